#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "simd/per_target.h"
#include "simd/reference.h"
#include "simd/simd.h"

namespace le::simd {
namespace {

using le::test::bitsOf;
using le::test::fromBits;
using le::test::refF16ToF32;
using le::test::refF32ToF16;
using le::test::refRoundF16;

// Floats that exercise rounding to half: every exponent and sign with random mantissas, the
// exact midpoints between neighbouring halves and their float neighbours, the overflow and
// underflow edges, infinities, signed zeros and NaNs with assorted payloads.
std::vector<float> roundingInputs() {
  std::vector<float> out;
  std::mt19937 rng(7);
  for (uint32_t sign = 0; sign < 2; ++sign) {
    for (uint32_t exponent = 0; exponent < 256; ++exponent) {
      for (int i = 0; i < 48; ++i) {
        out.push_back(fromBits(sign << 31 | exponent << 23 | (rng() & 0x7FFFFF)));
      }
    }
  }
  for (uint32_t h = 0; h < 0x7C00; ++h) {
    const float mid = static_cast<float>(
        (static_cast<double>(refF16ToF32(h)) + refF16ToF32(static_cast<uint16_t>(h + 1))) / 2);
    for (float f : {mid, std::nextafter(mid, 0.0f), std::nextafter(mid, 1e30f)}) {
      out.push_back(f);
      out.push_back(-f);
    }
  }
  for (float f : {65504.0f, 65519.0f, 65519.996f, 65520.0f, 65536.0f, 0x1p-24f, 0x1p-25f,
                  std::nextafter(0x1p-25f, 1.0f), 0x1p-26f, 0x1p-14f, 0x1.ffcp-15f, 0.0f, -0.0f,
                  std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                  std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min()}) {
    out.push_back(f);
    out.push_back(-f);
  }
  for (uint32_t payload : {0x400000u, 0x000001u, 0x001FFFu, 0x002000u, 0x3FE000u, 0x7FFFFFu,
                           0x155555u, 0x6AAAAAu}) {
    out.push_back(fromBits(0x7F800000u | payload));
    out.push_back(fromBits(0xFF800000u | payload));
  }
  return out;
}

class ConvertTest : public le::test::PerTarget {};

TEST_P(ConvertTest, DispatchRunsTheRequestedTarget) {
  EXPECT_STREQ(target(), hwy::TargetName(GetParam()));
}

TEST_P(ConvertTest, WidensEveryHalfExactly) {
  std::vector<uint16_t> halves(65536 + 3);
  for (size_t i = 0; i < halves.size(); ++i) halves[i] = static_cast<uint16_t>(i);
  std::vector<float> got(halves.size());
  f16ToF32(halves.data(), got.data(), halves.size());
  for (size_t i = 0; i < halves.size(); ++i) {
    ASSERT_EQ(bitsOf(got[i]), bitsOf(refF16ToF32(halves[i]))) << "half 0x" << std::hex << i;
  }
}

// Long arrays are written with streaming stores after an aligned start; every half, NaNs included,
// at every offset from the vector boundary.
TEST_P(ConvertTest, WidensLongArraysAtAnyOffset) {
  constexpr size_t kLength = (size_t{9} << 20) / sizeof(float) + 37;
  std::vector<uint16_t> halves(kLength);
  for (size_t i = 0; i < kLength; ++i) halves[i] = static_cast<uint16_t>(i * 40503u);
  std::vector<float> got(kLength + 16);
  for (size_t offset : {0u, 1u, 5u, 15u}) {
    std::fill(got.begin(), got.end(), -1.0f);
    f16ToF32(halves.data(), got.data() + offset, kLength);
    for (size_t i = 0; i < kLength; ++i) {
      ASSERT_EQ(bitsOf(got[offset + i]), bitsOf(refF16ToF32(halves[i])))
          << "offset " << offset << ", element " << i;
    }
    EXPECT_EQ(got[offset + kLength], -1.0f);
    if (offset > 0) EXPECT_EQ(got[offset - 1], -1.0f);
  }
}

TEST_P(ConvertTest, RoundsFloatsToNearestEven) {
  const std::vector<float> in = roundingInputs();
  std::vector<uint16_t> got(in.size());
  f32ToF16(in.data(), got.data(), in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    ASSERT_EQ(got[i], refF32ToF16(in[i])) << "float 0x" << std::hex << bitsOf(in[i]);
  }
}

TEST_P(ConvertTest, NamedEdgeValues) {
  const float in[] = {65519.0f, 65520.0f, 0x1p-25f, std::nextafter(0x1p-25f, 1.0f), -65520.0f};
  uint16_t got[5];
  f32ToF16(in, got, 5);
  EXPECT_EQ(got[0], 0x7BFF);
  EXPECT_EQ(got[1], 0x7C00);
  EXPECT_EQ(got[2], 0x0000);
  EXPECT_EQ(got[3], 0x0001);
  EXPECT_EQ(got[4], 0xFC00);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  f32ToF16(&nan, got, 1);
  EXPECT_EQ(got[0] & 0x7C00, 0x7C00);
  EXPECT_NE(got[0] & 0x03FF, 0);
}

// Lengths around every vector width, from unaligned pointers.
TEST_P(ConvertTest, AnyLengthAndAlignment) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> value(-70000.0f, 70000.0f);
  for (size_t n = 0; n <= 67; ++n) {
    std::vector<float> a(n + 1), b(n + 1), product(n + 1, -1.0f);
    for (size_t i = 0; i <= n; ++i) a[i] = value(rng), b[i] = value(rng) / 1000;
    std::vector<uint16_t> halves(n + 2, 0xABCD);
    f32ToF16(a.data() + 1, halves.data() + 1, n);
    roundF16Mul(a.data() + 1, b.data() + 1, product.data() + 1, n);
    EXPECT_EQ(halves[0], 0xABCD);
    EXPECT_EQ(halves[n + 1], 0xABCD);
    EXPECT_EQ(product[0], -1.0f);
    for (size_t i = 1; i <= n; ++i) {
      ASSERT_EQ(halves[i], refF32ToF16(a[i])) << n << " " << i;
      const float expected = refRoundF16(a[i]) * b[i];
      ASSERT_EQ(bitsOf(product[i]), bitsOf(expected)) << n << " " << i;
    }
  }
}

TEST_P(ConvertTest, RgbBytesToHalfPlanes) {
  for (size_t n : {0u, 1u, 7u, 8u, 31u, 33u, 256u, 1001u}) {
    const size_t stride = n + 5;
    std::vector<uint8_t> rgb(3 * n);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 37 + i / 256);
    std::vector<uint16_t> dst(3 * stride, 0xABCD);
    rgb8ToPlanarF16(rgb.data(), dst.data(), stride, n);
    for (size_t c = 0; c < 3; ++c) {
      for (size_t i = 0; i < stride; ++i) {
        const uint16_t expected =
            i < n ? refF32ToF16(static_cast<float>(rgb[3 * i + c]) / 255.0f) : 0xABCD;
        ASSERT_EQ(dst[c * stride + i], expected) << n << " " << c << " " << i;
      }
    }
  }
}

LE_INSTANTIATE_PER_TARGET(ConvertTest);

}  // namespace
}  // namespace le::simd
