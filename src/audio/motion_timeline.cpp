#include "audio/motion_timeline.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "audio/motion_layout.h"

namespace le::audio {

using namespace motion;

static_assert(kMotionDim == 265);

void MotionTimeline::addChunk(const float* predicted) {
  const size_t chunk = size_t(kChunkFrames), fade = size_t(kCrossFade);
  if (length_ == 0) {
    frames_.assign(predicted, predicted + chunk * kDim);
    length_ = chunk;
    const std::vector<float> source = frames_;
    smooth(0, length_, source, 0);
    return;
  }
  const size_t start = length_ - fade;
  for (size_t k = 0; k < fade; ++k) {
    const float w = float(k) / float(fade);
    float* old = frames_.data() + (start + k) * kDim;
    const float* fresh = predicted + k * kDim;
    for (size_t d = 0; d < kDim; ++d) old[d] = (1.0f - w) * old[d] + w * fresh[d];
  }
  frames_.insert(frames_.end(), predicted + fade * kDim, predicted + chunk * kDim);
  const size_t before = length_;
  length_ += chunk - fade;
  // The average of frames before - 10 to before reads frames before - 11 to before + 1.
  const size_t first = before - fade - 1, last = std::min(before + 2, length_);
  const std::vector<float> source(frames_.begin() + first * kDim, frames_.begin() + last * kDim);
  smooth(before - fade, std::min(before + 1, length_), source, first);
}

void MotionTimeline::smooth(size_t from, size_t to, const std::vector<float>& source, size_t sourceFirst) {
  for (size_t i = from; i < to; ++i) {
    const size_t lo = i == 0 ? 0 : i - 1;
    const size_t hi = std::min(length_, i + 2);
    const float n = float(hi - lo);
    float* out = frames_.data() + i * kDim;
    for (size_t d = 0; d < kSmoothDims; ++d) {
      float sum = 0.0f;
      for (size_t j = lo; j < hi; ++j) sum += source[(j - sourceFirst) * kDim + d];
      out[d] = sum / n;
    }
  }
}

const float* MotionTimeline::nextState() const { return frame(length_ - size_t(kStateFromEnd)); }

MotionTimeline::Checkpoint MotionTimeline::checkpoint() const {
  const size_t keep = std::min(length_, size_t(kCrossFade));
  Checkpoint c;
  c.length = length_;
  c.tail.assign(frames_.begin() + (length_ - keep) * kDim, frames_.begin() + length_ * kDim);
  return c;
}

void MotionTimeline::restore(const Checkpoint& c) {
  length_ = c.length;
  frames_.resize(length_ * kDim);
  std::copy(c.tail.begin(), c.tail.end(), frames_.begin() + length_ * kDim - c.tail.size());
}

void MotionTimeline::clear() {
  frames_.clear();
  length_ = 0;
}

void MotionTimeline::readout(size_t t, const float* vmin, const float* vmax, float* out) const {
  if (t + 1 >= length_) throw std::logic_error("le_motion: read-out past the timeline");
  const size_t lo = t == 0 ? 0 : t - 1;
  const float n = float(t + 2 - lo);
  std::memcpy(out, frame(t), kDim * sizeof(float));
  for (size_t d = 0; d < kSmoothDims; ++d) {
    float sum = 0.0f;
    for (size_t j = lo; j <= t + 1; ++j) sum += frames_[j * kDim + d];
    out[d] = sum / n;
  }
  for (size_t d = 0; d < kDim; ++d) out[d] = std::clamp(out[d], vmin[d], vmax[d]);
}

void MotionTimeline::finalize(size_t total, const float* vmin, const float* vmax) {
  length_ = std::min(length_, total);
  frames_.resize(length_ * kDim);
  const std::vector<float> source = frames_;
  smooth(0, length_, source, 0);
  for (size_t i = 0; i < length_; ++i) {
    float* f = frames_.data() + i * kDim;
    for (size_t d = 0; d < kDim; ++d) f[d] = std::clamp(f[d], vmin[d], vmax[d]);
  }
}

void chunkRows(const float* cond, size_t rows, int64_t k, float* out) {
  for (int64_t i = 0; i < kChunkFrames; ++i) {
    const size_t row = std::min(size_t(k * kChunkStride + i), rows - 1);
    std::memcpy(out + size_t(i) * kCondDim, cond + row * kCondDim, kCondDim * sizeof(float));
  }
}

}  // namespace le::audio
