#include "audio/fft.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace le::audio {

Fft::Fft(size_t n) : n_(n), bitReversed_(n), cos_(n / 2), sin_(n / 2) {
  if (n < 2 || (n & (n - 1)) != 0) throw std::invalid_argument("Fft: size must be a power of two");
  size_t bits = 0;
  while ((size_t(1) << bits) < n) ++bits;
  for (size_t i = 0; i < n; ++i) {
    size_t r = 0;
    for (size_t b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    bitReversed_[i] = r;
  }
  for (size_t k = 0; k < n / 2; ++k) {
    const double angle = 2.0 * std::numbers::pi * double(k) / double(n);
    cos_[k] = float(std::cos(angle));
    sin_[k] = float(-std::sin(angle));
  }
}

void Fft::forward(const float* in, float* re, float* im) const {
  for (size_t i = 0; i < n_; ++i) {
    re[i] = in[bitReversed_[i]];
    im[i] = 0.0f;
  }
  for (size_t len = 2; len <= n_; len <<= 1) {
    const size_t half = len / 2;
    const size_t step = n_ / len;
    for (size_t base = 0; base < n_; base += len) {
      for (size_t j = 0; j < half; ++j) {
        const float wr = cos_[j * step], wi = sin_[j * step];
        const size_t a = base + j, b = a + half;
        const float tr = re[b] * wr - im[b] * wi;
        const float ti = re[b] * wi + im[b] * wr;
        re[b] = re[a] - tr;
        im[b] = im[a] - ti;
        re[a] += tr;
        im[a] += ti;
      }
    }
  }
}

}  // namespace le::audio
