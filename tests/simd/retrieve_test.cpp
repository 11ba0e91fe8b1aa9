#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "simd/per_target.h"
#include "simd/reference.h"
#include "simd/simd.h"

namespace le::simd {
namespace {

using le::test::refF32ToF16;

uint32_t bitsOf(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

// Three planes of random halves in [0, 1] (as images are), with a few large values.
std::vector<uint16_t> randomImage(size_t stride, std::mt19937& rng) {
  std::uniform_real_distribution<float> value(0.0f, 1.0f);
  std::vector<uint16_t> out(3 * stride);
  for (uint16_t& h : out) h = refF32ToF16(rng() % 50 == 0 ? value(rng) * 60000 : value(rng));
  return out;
}

class RetrieveTest : public le::test::PerTarget {};

TEST_P(RetrieveTest, ExactRangeMatchesTheOrderedSum) {
  std::mt19937 rng(5);
  for (size_t n : {1u, 3u, 8u, 17u, 64u, 1000u}) {
    const size_t stride = n + 9;
    const auto a = randomImage(stride, rng);
    const auto b = randomImage(stride, rng);
    std::vector<float> w(stride);
    for (float& x : w) x = rng() % 4 == 0 ? 0.0f : static_cast<float>(rng() % 1000) / 37.0f;
    for (size_t begin : {size_t{0}, n / 3}) {
      for (size_t end : {n, n - n / 4}) {
        if (end < begin) continue;
        const float got = retrieveTermExactRange(a.data(), b.data(), w.data(), stride, begin, end);
        const float expected =
            le::test::refRetrieveExactRange(a.data(), b.data(), w.data(), stride, begin, end);
        ASSERT_EQ(bitsOf(got), bitsOf(expected)) << n << " [" << begin << ", " << end << ")";
      }
    }
    const auto c = randomImage(n, rng);
    const auto e = randomImage(n, rng);
    EXPECT_EQ(bitsOf(retrieveTermExact(c.data(), e.data(), w.data(), n)),
              bitsOf(le::test::refRetrieveExactRange(c.data(), e.data(), w.data(), n, 0, n)));
  }
}

TEST_P(RetrieveTest, ZeroWeightsIgnoreNonFiniteDistances) {
  const size_t n = 37;
  std::vector<uint16_t> a(3 * n, 0x7C00), b(3 * n, 0xFC00);  // infinity minus -infinity
  a[5] = 0x7E00;                                              // and a NaN
  std::vector<float> w(n, 0.0f);
  w[7] = -0.0f;
  EXPECT_EQ(bitsOf(retrieveTermExact(a.data(), b.data(), w.data(), n)), 0u);
}

TEST_P(RetrieveTest, PooledRoundsEveryTerm) {
  std::mt19937 rng(9);
  for (size_t n : {1u, 5u, 16u, 33u, 777u}) {
    const auto a = randomImage(n, rng);
    const auto b = randomImage(n, rng);
    std::vector<uint16_t> w(n);
    for (uint16_t& x : w) x = refF32ToF16(static_cast<float>(rng() % 1000) / 91.0f);
    const float got = retrieveTermPooled(a.data(), b.data(), w.data(), n);
    const float expected = le::test::refRetrievePooled(a.data(), b.data(), w.data(), n);
    ASSERT_EQ(bitsOf(got), bitsOf(expected)) << n;
  }
}

LE_INSTANTIATE_PER_TARGET(RetrieveTest);

}  // namespace
}  // namespace le::simd
