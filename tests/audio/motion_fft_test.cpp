// The radix-2 FFT against a direct DFT in double precision, and the log-mel block of a window
// against a direct computation of the same definition.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "audio/fft.h"
#include "audio/log_mel.h"
#include "audio/motion_layout.h"

namespace le::audio {
namespace {

using namespace motion;

std::vector<float> noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v) x = u(rng);
  return v;
}

// |X_k| of the direct DFT in double precision.
std::vector<double> dftMagnitudes(const float* x, size_t n, size_t bins) {
  std::vector<double> mag(bins);
  for (size_t k = 0; k < bins; ++k) {
    double re = 0, im = 0;
    for (size_t j = 0; j < n; ++j) {
      const double a = -2.0 * std::numbers::pi * double(j * k % n) / double(n);
      re += x[j] * std::cos(a);
      im += x[j] * std::sin(a);
    }
    mag[k] = std::hypot(re, im);
  }
  return mag;
}

class FftSize : public ::testing::TestWithParam<size_t> {};

TEST_P(FftSize, MatchesTheDirectDftToFloatRounding) {
  const size_t n = GetParam();
  const std::vector<float> x = noise(n, unsigned(n));
  std::vector<float> re(n), im(n);
  Fft(n).forward(x.data(), re.data(), im.data());
  double scale = 0;
  for (float v : x) scale += std::fabs(v);
  for (size_t k = 0; k < n; ++k) {
    double dr = 0, di = 0;
    for (size_t j = 0; j < n; ++j) {
      const double a = -2.0 * std::numbers::pi * double(j * k % n) / double(n);
      dr += x[j] * std::cos(a);
      di += x[j] * std::sin(a);
    }
    EXPECT_NEAR(re[k], dr, 1e-6 * scale * std::log2(double(n))) << "bin " << k;
    EXPECT_NEAR(im[k], di, 1e-6 * scale * std::log2(double(n))) << "bin " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftSize, ::testing::Values(2, 4, 8, 64, 512));

TEST(Fft, RefusesSizesThatAreNotPowersOfTwo) {
  for (size_t n : {0, 1, 3, 500}) EXPECT_THROW(Fft{n}, std::invalid_argument) << n;
}

TEST(Fft, PureToneLandsInItsBin) {
  std::vector<float> x(kFftSize), re(kFftSize), im(kFftSize);
  for (size_t j = 0; j < kFftSize; ++j) x[j] = float(std::cos(2.0 * std::numbers::pi * 37.0 * double(j) / 512.0));
  Fft(kFftSize).forward(x.data(), re.data(), im.data());
  for (size_t k = 0; k <= kFftSize / 2; ++k)
    EXPECT_NEAR(std::hypot(re[k], im[k]), k == 37 ? 256.0 : 0.0, 1e-3) << "bin " << k;
}

TEST(ReflectPad, MirrorsWithoutRepeatingTheEdgeSample) {
  std::vector<float> span(static_cast<size_t>(kSpanSamples)), padded(kPaddedSamples);
  for (size_t i = 0; i < span.size(); ++i) span[i] = float(i);
  reflectPad(span.data(), padded.data());
  EXPECT_EQ(padded[0], 256.0f);
  EXPECT_EQ(padded[255], 1.0f);
  EXPECT_EQ(padded[256], 0.0f);
  EXPECT_EQ(padded[256 + 6479], 6479.0f);
  EXPECT_EQ(padded[256 + 6480], 6478.0f);
  EXPECT_EQ(padded[kPaddedSamples - 1], 6480.0f - 1 - 256);
}

TEST(LogMel, MatchesADirectComputationOfEveryBandAndFrame) {
  const std::vector<float> span = noise(size_t(kSpanSamples), 7);
  std::vector<float> window(kFftSize), binmat = noise(kFftBins * kMelBands, 8);
  for (size_t i = 0; i < kFftSize; ++i) window[i] = float(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / 512.0));
  for (float& w : binmat) w = std::fabs(w);
  std::vector<float> mel(kMelFloats);
  LogMel(window, binmat).compute(span.data(), mel.data());

  std::vector<float> padded(kPaddedSamples), frame(kFftSize);
  reflectPad(span.data(), padded.data());
  for (size_t f = 0; f < kMelFrames; ++f) {
    for (size_t i = 0; i < kFftSize; ++i) frame[i] = padded[f * kHop + i] * window[i];
    const std::vector<double> mag = dftMagnitudes(frame.data(), kFftSize, kFftBins);
    for (size_t b = 0; b < kMelBands; ++b) {
      double sum = 0;
      for (size_t k = 0; k < kFftBins; ++k) sum += binmat[k * kMelBands + b] * mag[k];
      EXPECT_NEAR(mel[b * kMelFrames + f], std::log(sum + 1e-8), 2e-5) << "band " << b << " frame " << f;
    }
  }
}

TEST(LogMel, SilenceGivesTheLogOfTheFloor) {
  std::vector<float> span(static_cast<size_t>(kSpanSamples)), window(kFftSize, 1.0f), binmat(kFftBins * kMelBands, 1.0f);
  std::vector<float> mel(kMelFloats);
  LogMel(window, binmat).compute(span.data(), mel.data());
  for (float v : mel) EXPECT_FLOAT_EQ(v, std::log(1e-8f));
}

}  // namespace
}  // namespace le::audio
