#include "pipeline/stream_plan.h"

namespace le {

namespace {

constexpr int64_t kKeypointFloats = 63;

}  // namespace

StreamPlan planStream(const float* deltas, int64_t frames, int64_t skip, float gain, const float* xsTarget,
                      int32_t nt) {
  StreamPlan plan;
  const int64_t count = frames - skip;
  if (count <= 0) return plan;
  plan.rows.reserve(size_t(count));
  plan.target.reserve(size_t(count * kKeypointFloats));
  plan.driving.reserve(size_t(count * kKeypointFloats));
  for (int64_t i = skip; i < frames; ++i) {
    const int32_t row = nt <= 1 ? 0 : int32_t(i % nt);
    plan.rows.push_back(row);
    const float* target = xsTarget + size_t(row) * kKeypointFloats;
    const float* delta = deltas + size_t(i) * kKeypointFloats;
    for (int64_t c = 0; c < kKeypointFloats; ++c) {
      plan.target.push_back(target[c]);
      plan.driving.push_back(target[c] + gain * delta[c]);
    }
  }
  return plan;
}

}  // namespace le
