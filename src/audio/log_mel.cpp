#include "audio/log_mel.h"

#include <cmath>
#include <stdexcept>

#include "audio/motion_layout.h"

namespace le::audio {

using namespace motion;

void reflectPad(const float* span, float* padded) {
  const size_t n = size_t(kSpanSamples);
  for (size_t i = 0; i < n; ++i) padded[kReflectPad + i] = span[i];
  for (size_t j = 0; j < kReflectPad; ++j) {
    padded[kReflectPad - 1 - j] = span[j + 1];
    padded[kReflectPad + n + j] = span[n - 2 - j];
  }
}

LogMel::LogMel(const std::vector<float>& window, const std::vector<float>& binmat)
    : fft_(kFftSize), window_(window), binmat_(binmat) {
  if (window_.size() != kFftSize || binmat_.size() != kFftBins * kMelBands)
    throw std::invalid_argument("LogMel: window or mel matrix of the wrong size");
}

void LogMel::compute(const float* span, float* mel) const {
  // Scratch of the calling thread: one object may serve several threads one after another, and
  // several objects may run on one thread.
  thread_local std::vector<float> padded(kPaddedSamples), frame(kFftSize), re(kFftSize), im(kFftSize),
      magnitude(kFftBins);
  reflectPad(span, padded.data());
  for (size_t f = 0; f < kMelFrames; ++f) {
    const float* src = padded.data() + f * kHop;
    for (size_t i = 0; i < kFftSize; ++i) frame[i] = src[i] * window_[i];
    fft_.forward(frame.data(), re.data(), im.data());
    for (size_t k = 0; k < kFftBins; ++k) magnitude[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
    // Bin-major accumulation: each band still sums its bins in ascending order, and the inner loop
    // runs over contiguous bands.
    float bands[kMelBands] = {};
    for (size_t k = 0; k < kFftBins; ++k) {
      const float* row = binmat_.data() + k * kMelBands;
      for (size_t b = 0; b < kMelBands; ++b) bands[b] += row[b] * magnitude[k];
    }
    for (size_t b = 0; b < kMelBands; ++b) mel[b * kMelFrames + f] = std::log(bands[b] + kMelFloor);
  }
}

}  // namespace le::audio
