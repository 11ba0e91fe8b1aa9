#include "simd/half.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "simd/reference.h"

namespace le {
namespace {

TEST(HalfToFloat, WidensEveryHalfExactly) {
  std::vector<uint16_t> halves(65536);
  for (size_t i = 0; i < halves.size(); ++i) halves[i] = static_cast<uint16_t>(i);
  std::vector<float> got(halves.size());
  halfToFloat(halves.data(), got.data(), halves.size());
  for (size_t i = 0; i < halves.size(); ++i) {
    const float expected = test::refF16ToF32(halves[i]);
    ASSERT_EQ(std::memcmp(&got[i], &expected, 4), 0) << "half 0x" << std::hex << i;
  }
}

TEST(F32ToF16, MatchesTheReferenceExceptThatNaNBecomesInfinity) {
  std::mt19937 rng(11);
  for (int i = 0; i < 200000; ++i) {
    uint32_t bits = rng();
    float f;
    std::memcpy(&f, &bits, 4);
    const uint16_t expected =
        std::isnan(f) ? static_cast<uint16_t>((bits >> 16 & 0x8000) | 0x7C00) : test::refF32ToF16(f);
    ASSERT_EQ(f32ToF16(f), expected) << "float 0x" << std::hex << bits;
  }
}

TEST(F32ToF16, TiesBetweenHalvesGoToEven) {
  for (uint32_t h = 0; h < 0x7C00; ++h) {
    const double mid =
        (static_cast<double>(test::refF16ToF32(h)) + test::refF16ToF32(static_cast<uint16_t>(h + 1))) / 2;
    const float f = static_cast<float>(mid);
    ASSERT_EQ(f32ToF16(f), test::refF32ToF16(f)) << h;
    ASSERT_EQ(f32ToF16(-f), test::refF32ToF16(-f)) << h;
    ASSERT_EQ(f32ToF16(f), (h & 1) ? h + 1 : h) << h;
  }
}

TEST(F32ToF16, NamedEdgeValues) {
  EXPECT_EQ(f32ToF16(65519.0f), 0x7BFF);
  EXPECT_EQ(f32ToF16(65520.0f), 0x7C00);
  EXPECT_EQ(f32ToF16(0x1p-25f), 0x0000);
  EXPECT_EQ(f32ToF16(std::nextafter(0x1p-25f, 1.0f)), 0x0001);
  EXPECT_EQ(f32ToF16(-0.0f), 0x8000);
  EXPECT_EQ(f32ToF16(1.0f), 0x3C00);
  EXPECT_EQ(f32ToF16(std::numeric_limits<float>::quiet_NaN()), 0x7C00);
  EXPECT_EQ(f32ToF16(-std::numeric_limits<float>::quiet_NaN()), 0xFC00);
}

}  // namespace
}  // namespace le
