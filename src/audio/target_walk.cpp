#include "audio/target_walk.h"

namespace le::audio {
namespace {

// The mathematical remainder, in [0, m) for m > 0.
int64_t floorMod(int64_t a, int64_t m) {
  const int64_t r = a % m;
  return r < 0 ? r + m : r;
}

}  // namespace

int TargetWalk::row(int64_t t, int nt) const {
  if (nt <= 1) return 0;
  const int64_t g = int64_t(direction_) * t + start_;
  if (loop_) return int(floorMod(g, nt));
  const int64_t period = 2 * int64_t(nt - 1);
  const int64_t m = floorMod(g, period);
  return int(m <= nt - 1 ? m : period - m);
}

int TargetWalk::restart(int start, int direction, int loop, int64_t pulled, int nt) {
  if (start < 0) start = nt < 2 ? 0 : row(pulled, nt);
  start_ = start;
  direction_ = direction < 0 ? -1 : 1;
  loop_ = loop != 0;
  return direction_;
}

}  // namespace le::audio
