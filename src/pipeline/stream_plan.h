// The frames of an offline stream: which driver row each output frame uses, its target keypoints
// and its driving keypoints (the target plus the animator's scaled delta).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace le {

struct StreamPlan {
  std::vector<int32_t> rows;    // per output frame
  std::vector<float> target;    // 63 floats per output frame
  std::vector<float> driving;   // 63 floats per output frame

  int64_t frames() const { return int64_t(rows.size()); }
};

// Animation frame i (skip <= i < frames) becomes output frame i - skip on driver row i mod nt
// (row 0 when nt <= 1), driving keypoints xsTarget[row] + gain * deltas[i]. xsTarget holds nt rows
// of 63 floats, deltas `frames` rows.
StreamPlan planStream(const float* deltas, int64_t frames, int64_t skip, float gain, const float* xsTarget,
                      int32_t nt);

}  // namespace le
