// The arithmetic of the live a2x path.
#include "audio/a2x_schedule.h"

#include <algorithm>
#include <limits>

#include "audio/w2v_features.h"

namespace le::a2x {

using w2v::kBlockFrames;
using w2v::kFrameSamples;

int64_t countedFrames(int64_t n) {
  return kBlockFrames * ((std::max<int64_t>(n, 0) + kFrameSamples - 1) / kBlockSamples);
}

int64_t settledSamplesOf(int64_t counted) { return counted <= 0 ? 0 : counted * kFrameSamples - (kFrameSamples - 1); }

int64_t settledSamples(int64_t n) { return settledSamplesOf(countedFrames(n)); }

int64_t totalFrames(int64_t n) { return (std::max<int64_t>(n, 0) + kFrameSamples - 1) / kFrameSamples; }

int64_t readyFrames(int64_t n, bool finished, int64_t lookahead, int64_t lag) {
  if (finished) return totalFrames(n);
  return std::max<int64_t>(0, countedFrames(n) - lookahead - lag);
}

namespace {
int64_t floorMod(int64_t a, int64_t m) {
  const int64_t r = a % m;
  return r < 0 ? r + m : r;
}
}  // namespace

int64_t gridAtOrAbove(int64_t c, int64_t lookahead, int64_t lag) {
  return c + floorMod(-(lookahead + lag) - c, kBlockFrames);
}

int64_t gridAbove(int64_t c, int64_t lookahead, int64_t lag) { return gridAtOrAbove(c + 1, lookahead, lag); }

int64_t positionalRow(int64_t f, int64_t p) {
  if (f < p) return f;
  const int64_t half = p / 2;
  return half + (f - p) % (p - half);
}

void bandMask(int64_t l, int64_t left, int64_t window, float* mask) {
  const float blocked = -std::numeric_limits<float>::infinity();
  for (int64_t i = 0; i < l; ++i)
    for (int64_t j = 0; j < l; ++j) mask[i * l + j] = (j >= i - left && j <= i + window) ? 0.0f : blocked;
}

}  // namespace le::a2x
