#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "simd/per_target.h"
#include "simd/reference.h"
#include "simd/simd.h"

namespace le::simd {
namespace {

class YuvTest : public le::test::PerTarget {};

TEST_P(YuvTest, PlanarAndInterleavedRowsOfAnyWidth) {
  std::mt19937 rng(17);
  std::vector<int> widths;
  for (int w = 0; w <= 70; ++w) widths.push_back(w);
  widths.insert(widths.end(), {1919, 1920});
  for (int width : widths) {
    const int chroma = (width + 1) / 2;
    std::vector<uint8_t> y(width), u(chroma), v(chroma), uv(2 * chroma);
    for (uint8_t& b : y) b = static_cast<uint8_t>(rng());
    for (int k = 0; k < chroma; ++k) {
      u[k] = static_cast<uint8_t>(rng());
      v[k] = static_cast<uint8_t>(rng());
      uv[2 * k] = u[k];
      uv[2 * k + 1] = v[k];
    }
    std::vector<uint8_t> expected(3 * width + 1, 0xAA);
    le::test::refYuvRow(y.data(), u.data(), v.data(), width, 1, expected.data());
    std::vector<uint8_t> planar(3 * width + 1, 0xAA), interleaved(3 * width + 1, 0xAA);
    yuv420RowToRgb24(y.data(), u.data(), v.data(), width, 1, planar.data());
    yuv420RowToRgb24(y.data(), uv.data(), uv.data() + 1, width, 2, interleaved.data());
    ASSERT_EQ(planar, expected) << "planar, width " << width;
    ASSERT_EQ(interleaved, expected) << "interleaved, width " << width;
  }
}

// The vector body rearranges the formulae to fit 16-bit lanes; every (Y, U, V) is checked, on both
// pixels of a pair, for planar and interleaved chroma.
TEST_P(YuvTest, EveryLumaAndChromaCombination) {
  constexpr int kPairs = 256 * 256;
  constexpr int kWidth = 2 * kPairs;
  std::vector<uint8_t> y(kWidth), u(kPairs), v(kPairs), uv(2 * kPairs);
  for (int k = 0; k < kPairs; ++k) {
    u[k] = uv[2 * k] = static_cast<uint8_t>(k >> 8);
    v[k] = uv[2 * k + 1] = static_cast<uint8_t>(k);
  }
  std::vector<uint8_t> expected(3 * kWidth), planar(3 * kWidth), interleaved(3 * kWidth);
  for (int luma = 0; luma < 256; ++luma) {
    // Over the rows each pixel of a pair takes every luma value, the odd one offset.
    for (int x = 0; x < kWidth; ++x) y[x] = static_cast<uint8_t>(luma + (x & 1) * 101);
    le::test::refYuvRow(y.data(), u.data(), v.data(), kWidth, 1, expected.data());
    yuv420RowToRgb24(y.data(), u.data(), v.data(), kWidth, 1, planar.data());
    yuv420RowToRgb24(y.data(), uv.data(), uv.data() + 1, kWidth, 2, interleaved.data());
    for (const auto* got : {&planar, &interleaved}) {
      const auto diff = std::mismatch(got->begin(), got->end(), expected.begin()).first;
      ASSERT_EQ(diff, got->end()) << (got == &planar ? "planar" : "interleaved") << ": Y "
                                  << int(y[(diff - got->begin()) / 3]) << " U "
                                  << int(u[(diff - got->begin()) / 6]) << " V "
                                  << int(v[(diff - got->begin()) / 6]) << " channel "
                                  << (diff - got->begin()) % 3;
    }
  }
}

TEST_P(YuvTest, LimitedRangeEnds) {
  const uint8_t y[] = {16, 235, 0, 255, 16, 235, 0, 255, 16, 235, 0, 255, 16, 235, 0, 255, 16, 235};
  const int width = sizeof(y);
  std::vector<uint8_t> u(width, 128), v(width, 128), rgb(3 * width);
  yuv420RowToRgb24(y, u.data(), v.data(), width, 1, rgb.data());
  for (int x = 0; x < width; ++x) {
    const uint8_t expected = y[x] == 16 || y[x] == 0 ? 0 : 255;
    for (int c = 0; c < 3; ++c) ASSERT_EQ(rgb[3 * x + c], expected) << x << " " << c;
  }
}

LE_INSTANTIATE_PER_TARGET(YuvTest);

}  // namespace
}  // namespace le::simd
