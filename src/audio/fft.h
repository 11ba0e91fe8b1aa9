// A radix-2 fast Fourier transform of real input: decimation in time over bit-reversed input
// order, twiddles precomputed in double precision and stored as floats.
#pragma once

#include <cstddef>
#include <vector>

namespace le::audio {

class Fft {
 public:
  // n must be a power of two, at least 2 (std::invalid_argument otherwise).
  explicit Fft(size_t n);

  size_t size() const { return n_; }

  // The n-point transform of the real sequence `in`: re[k] + i im[k] = sum_j in[j] e^(-2 pi i jk/n).
  // re and im hold n floats each.
  void forward(const float* in, float* re, float* im) const;

 private:
  size_t n_;
  std::vector<size_t> bitReversed_;
  std::vector<float> cos_;  // cos(2 pi k / n), k in [0, n/2)
  std::vector<float> sin_;  // -sin(2 pi k / n)
};

}  // namespace le::audio
