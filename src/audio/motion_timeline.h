// The motion timeline: 265-float motion vectors per frame, grown by the motion model's overlapping
// chunks of 80 frames (stride 70) with a 10-frame cross-fade and a centred 3-frame average of the
// pose dimensions (0 to 201), read out while streaming and cut, smoothed and clamped at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace le::audio {

class MotionTimeline {
 public:
  // A restorable state: the length and a copy of the last 10 frames (fewer when shorter).
  struct Checkpoint {
    size_t length = 0;
    std::vector<float> tail;
  };

  size_t length() const { return length_; }
  const float* frame(size_t i) const { return frames_.data() + i * kDim; }
  const std::vector<float>& frames() const { return frames_; }

  // Adds one chunk's 80 predicted vectors. The first chunk starts the timeline; a later one
  // cross-fades its first 10 frames into the last 10, appends its other 70, and the 3-frame average
  // is applied to the frames around the seam.
  void addChunk(const float* predicted);

  // The motion state the next chunk starts from: the frame 11 before the end.
  const float* nextState() const;

  Checkpoint checkpoint() const;
  void restore(const Checkpoint& checkpoint);
  void clear();

  // Frame t as streamed (needs t + 1 < length): pose dimensions averaged over frames t - 1 to t + 1,
  // then every value clamped to [vmin, vmax].
  void readout(size_t t, const float* vmin, const float* vmax, float* out) const;

  // The final timeline: cut to `total` frames (at most the length), pose dimensions averaged over
  // the whole timeline from a copy, every value clamped.
  void finalize(size_t total, const float* vmin, const float* vmax);

 private:
  static constexpr size_t kDim = 265;

  // Replaces the pose dimensions of frames [from, to) with the 3-frame average of `source`, a copy
  // of the timeline frames from `sourceFirst` on, taken before any of them changed.
  void smooth(size_t from, size_t to, const std::vector<float>& source, size_t sourceFirst);

  std::vector<float> frames_;
  size_t length_ = 0;
};

// The 80 conditioning rows of chunk k (rows 70k to 70k + 79) from `rows` rows of `cond`; rows past
// the last one repeat it. rows must be at least 1.
void chunkRows(const float* cond, size_t rows, int64_t k, float* out);

}  // namespace le::audio
