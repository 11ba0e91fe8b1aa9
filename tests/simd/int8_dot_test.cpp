#include "simd/int8_dot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "simd/per_target.h"
#include "simd/reference.h"

namespace le::simd {
namespace {

class Int8DotTest : public le::test::PerTarget {};

// Tiles of one to eight pixels over taps at scattered offsets, with the extreme byte values: sums
// must equal the integer dot products exactly.
TEST_P(Int8DotTest, TileEqualsTheIntegerSums) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int quads : {1, 3}) {
    const int taps = 5;
    const size_t step = 4 * quads + 8;
    std::vector<uint8_t> in(step * kInt8DotPixels + 64 * taps);
    for (uint8_t& v : in) v = static_cast<uint8_t>(byte(rng));
    in[0] = 255;
    std::vector<int8_t> w(static_cast<size_t>(taps * quads) * kInt8DotBlock * kInt8DotDepth);
    for (int8_t& v : w) v = static_cast<int8_t>(byte(rng) - 128);
    w[0] = -128;
    const int64_t offsets[] = {0, 7, 64, 130, 251};
    for (int pixels = 1; pixels <= kInt8DotPixels; ++pixels) {
      std::vector<int32_t> acc(static_cast<size_t>(pixels) * kInt8DotBlock, 12345);
      Int8DotTile tile;
      tile.in = in.data();
      tile.tapOffsets = offsets;
      tile.taps = taps;
      tile.quads = quads;
      tile.pixelStep = step;
      tile.pixels = pixels;
      tile.weights = w.data();
      tile.acc = acc.data();
      int8DotTile(tile);
      for (int p = 0; p < pixels; ++p)
        for (int o = 0; o < kInt8DotBlock; ++o) {
          int32_t want = 0;
          for (int t = 0; t < taps; ++t)
            for (int c = 0; c < quads * kInt8DotDepth; ++c)
              want += int32_t(in[p * step + offsets[t] + c]) *
                      w[((t * quads + c / 4) * kInt8DotBlock + o) * kInt8DotDepth + c % 4];
          ASSERT_EQ(acc[p * kInt8DotBlock + o], want) << "pixels " << pixels << " p " << p << " o " << o;
        }
    }
  }
}

TEST_P(Int8DotTest, DequantiseRoundsLikeTheScalarFormula) {
  std::mt19937 rng(8);
  std::uniform_int_distribution<int32_t> sum(-40000000, 40000000);
  std::uniform_real_distribution<float> value(-0.1f, 0.1f);
  std::vector<int32_t> acc(kInt8DotPixels * kInt8DotBlock), correction(kInt8DotBlock);
  std::vector<float> k(kInt8DotBlock), bias(kInt8DotBlock);
  for (int32_t& v : acc) v = sum(rng);
  for (int o = 0; o < kInt8DotBlock; ++o) correction[o] = sum(rng) / 4, k[o] = value(rng) * 1e-3f, bias[o] = value(rng);
  for (int pixels : {1, 5, kInt8DotPixels}) {
    std::vector<float> got(acc.size(), -1.f);
    int8Dequantise(acc.data(), pixels, correction.data(), k.data(), bias.data(), got.data());
    for (int p = 0; p < kInt8DotPixels; ++p)
      for (int o = 0; o < kInt8DotBlock; ++o) {
        const size_t i = size_t(p) * kInt8DotBlock + o;
        // Sums beyond 2^24 round when converted: the same rounding on every target.
        const float want = p < pixels ? k[o] * static_cast<float>(acc[i] - correction[o]) + bias[o] : -1.f;
        ASSERT_EQ(le::test::bitsOf(got[i]), le::test::bitsOf(want)) << "pixels " << pixels << " p " << p << " o " << o;
      }
  }
}

// Rows of pixel sums for a few channels, into rows of a wider output: every value rounds like the
// scalar formula, the tail past whole vectors included, and nothing outside the rows is written.
TEST_P(Int8DotTest, DequantiseRowsRoundsLikeTheScalarFormula) {
  std::mt19937 rng(9);
  std::uniform_int_distribution<int32_t> sum(-40000000, 40000000);
  std::uniform_real_distribution<float> value(-0.1f, 0.1f);
  const int channels = 3;
  const size_t accStride = 48, outStride = 61;
  std::vector<int32_t> acc(channels * accStride), correction(channels);
  std::vector<float> k(channels), bias(channels);
  for (int32_t& v : acc) v = sum(rng);
  for (int o = 0; o < channels; ++o) correction[o] = sum(rng) / 4, k[o] = value(rng) * 1e-3f, bias[o] = value(rng);
  for (size_t pixels : {size_t(1), size_t(19), size_t(48)}) {
    std::vector<float> got(channels * outStride, -1.f);
    int8DequantiseRows(acc.data(), accStride, channels, pixels, correction.data(), k.data(), bias.data(), got.data(),
                       outStride);
    for (int o = 0; o < channels; ++o)
      for (size_t i = 0; i < outStride; ++i) {
        const float want =
            i < pixels ? k[o] * static_cast<float>(acc[o * accStride + i] - correction[o]) + bias[o] : -1.f;
        ASSERT_EQ(le::test::bitsOf(got[o * outStride + i]), le::test::bitsOf(want))
            << "pixels " << pixels << " o " << o << " i " << i;
      }
  }
}

TEST_P(Int8DotTest, QuantiseQuadsRoundsTiesToEvenClampsAndFillsAbsentChannels) {
  const float scale = 0.5f, zero = 3.f;
  // x / 0.5 = 2.5 and 3.5 are ties; -4 and 200 fall outside 0..255 after the zero point.
  std::vector<float> x = {1.25f, 1.75f, -0.25f, 0.f, -4.f, 200.f, 126.f, 0.3f, -1.5f};
  for (int i = 0; i < 40; ++i) x.push_back(float(i) * 0.37f - 3.f);
  const size_t n = x.size();
  // Four planes over the same values at different starts, so each byte of a quad differs.
  std::vector<float> values(x);
  values.insert(values.end(), x.begin(), x.end());
  const float* planes[4] = {values.data(), values.data() + 5, values.data() + 11, values.data() + 23};
  const auto want = [&](int j, size_t i) {
    return static_cast<uint8_t>(std::fmin(std::fmax(std::rint(planes[j][i] / scale) + zero, 0.f), 255.f));
  };
  for (int channels = 1; channels <= 4; ++channels) {
    std::vector<uint8_t> got(4 * n + 1, 77);
    int8QuantiseQuads(planes, channels, n, scale, zero, got.data());
    for (size_t i = 0; i < n; ++i)
      for (int j = 0; j < 4; ++j)
        ASSERT_EQ(got[4 * i + j], j < channels ? want(j, i) : 3) << "channels " << channels << " i " << i << " j " << j;
    EXPECT_EQ(got[4 * n], 77);
    EXPECT_EQ(got[0], 5);  // rint(2.5) = 2
    EXPECT_EQ(got[4], 7);  // rint(3.5) = 4
  }
}

TEST_P(Int8DotTest, RangeWidensTheGivenBounds) {
  std::vector<float> x(37);
  for (size_t i = 0; i < x.size(); ++i) x[i] = float(i) * 0.5f - 3.f;
  x[20] = -7.5f;
  float lo = 0.f, hi = 100.f;
  int8Range(x.data(), x.size(), &lo, &hi);
  EXPECT_EQ(lo, -7.5f);
  EXPECT_EQ(hi, 100.f);
  lo = 0.f, hi = 0.f;
  int8Range(x.data(), 3, &lo, &hi);  // shorter than a vector
  EXPECT_EQ(lo, -3.f);
  EXPECT_EQ(hi, 0.f);
}

LE_INSTANTIATE_PER_TARGET(Int8DotTest);

}  // namespace
}  // namespace le::simd
