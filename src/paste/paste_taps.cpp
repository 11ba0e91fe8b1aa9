#include "paste/paste_taps.h"

#include <cmath>

namespace le::paste {

std::array<float, kPhases * 8> lanczos8Taps() {
  constexpr double r = 0.7071067811865476, pi = M_PI;
  static constexpr double A[8] = {1, -r, 0, r, -1, r, 0, -r};
  static constexpr double B[8] = {0, -r, 1, -r, 0, r, -1, r};
  std::array<float, kPhases * 8> taps{};
  for (int p = 0; p < kPhases; ++p) {
    const double t = p / double(kPhases);
    float* row = &taps[p * 8];
    if (t < 1e-7) {
      row[3] = 1.0f;
      continue;
    }
    const double s0 = std::sin(-(t + 3) * pi / 4), c0 = std::cos(-(t + 3) * pi / 4);
    double w[8], sum = 0;
    for (int j = 0; j < 8; ++j) {
      const double y = (t + 3 - j) * pi / 4;
      w[j] = (s0 * A[j] + c0 * B[j]) / (y * y);
      sum += w[j];
    }
    for (int j = 0; j < 8; ++j) row[j] = float(w[j] / sum);
  }
  return taps;
}

std::array<float, kPhases * 4> bicubicTaps() {
  std::array<float, kPhases * 4> taps{};
  for (int p = 0; p < kPhases; ++p) {
    const double t = p / double(kPhases), u = 1 - t;
    const float w0 = float(((-0.75 * (t + 1) + 3.75) * (t + 1) - 6) * (t + 1) + 3);
    const float w1 = float((1.25 * t - 2.25) * t * t + 1);
    const float w2 = float((1.25 * u - 2.25) * u * u + 1);
    taps[p * 4 + 0] = w0;
    taps[p * 4 + 1] = w1;
    taps[p * 4 + 2] = w2;
    taps[p * 4 + 3] = 1.0f - w0 - w1 - w2;
  }
  return taps;
}

std::array<float, kPhases * 2> bilinearTaps() {
  std::array<float, kPhases * 2> taps{};
  for (int p = 0; p < kPhases; ++p) {
    const float t = float(p) / kPhases;
    taps[p * 2] = 1.0f - t;
    taps[p * 2 + 1] = t;
  }
  return taps;
}

std::vector<float> gaussianTaps(int ksize, float sigma) {
  std::vector<float> taps(size_t(ksize), 0.0f);
  const double c = (ksize - 1) * 0.5;
  if (!(sigma > 0)) {
    taps[size_t(ksize / 2)] = 1.0f;
    return taps;
  }
  std::vector<double> w(static_cast<size_t>(ksize));
  double sum = 0;
  for (int i = 0; i < ksize; ++i) sum += w[size_t(i)] = std::exp(-(i - c) * (i - c) / (2.0 * sigma * sigma));
  for (int i = 0; i < ksize; ++i) taps[size_t(i)] = float(w[size_t(i)] / sum);
  return taps;
}

}  // namespace le::paste
