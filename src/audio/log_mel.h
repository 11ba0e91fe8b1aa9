// The log-mel spectrogram of one frontend window: the 6480-sample span reflect-padded by 256 on each
// side, 21 frames of 512 samples every 320 under the analysis window, FFT magnitudes of bins 0 to
// 256, 80 mel bands, log(band + 1e-8).
#pragma once

#include <vector>

#include "audio/fft.h"

namespace le::audio {

class LogMel {
 public:
  // window: 512 floats; binmat: 257 frequency bins x 80 bands, bin-major. Both are copied.
  LogMel(const std::vector<float>& window, const std::vector<float>& binmat);

  // span: 6480 samples; mel: 1680 floats, band-major [80][21].
  void compute(const float* span, float* mel) const;

 private:
  Fft fft_;
  std::vector<float> window_;
  std::vector<float> binmat_;
};

// Mirrors the span about its first and last sample without repeating them: padded holds 6992
// floats, padded[256 + i] = span[i].
void reflectPad(const float* span, float* padded);

}  // namespace le::audio
