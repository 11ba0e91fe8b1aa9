#include <gtest/gtest.h>

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

struct Shape {
  int images, cin, height, width, cout;
};

// Widths below, at and across every target's vector width; odd heights; channel counts that leave
// runs of 1, 2 and 3 channels after the blocks of 4; the blend head's 16 -> 16 layer at its size.
const Shape kShapes[] = {{1, 1, 1, 1, 1},  {2, 3, 5, 7, 4},  {1, 2, 4, 16, 3}, {2, 1, 3, 17, 2},
                         {1, 4, 9, 33, 5}, {3, 2, 6, 40, 2}, {2, 3, 7, 5, 7}, {2, 16, 34, 46, 16}};

struct ConvCase {
  std::vector<float> in, weights, bias;
};

ConvCase randomCase(const Shape& s, std::mt19937& rng) {
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  ConvCase c;
  c.in.resize(static_cast<size_t>(s.images) * s.cin * s.height * s.width);
  c.weights.resize(static_cast<size_t>(s.cout) * s.cin * 9);
  c.bias.resize(s.cout);
  for (auto* v : {&c.in, &c.weights, &c.bias}) {
    for (float& x : *v) x = value(rng);
  }
  return c;
}

class Conv3x3Test : public le::test::PerTarget {};

TEST_P(Conv3x3Test, MatchesTheExactSumToFloatRounding) {
  std::mt19937 rng(13);
  for (const Shape& s : kShapes) {
    const size_t plane = static_cast<size_t>(s.height) * s.width;
    const auto [in, weights, bias] = randomCase(s, rng);
    const int total = s.images * s.cout;
    // Whole range, then a range that starts and ends inside an image, on a reused scratch.
    for (auto [begin, end] : {std::pair{0, total}, std::pair{1, total - 1}}) {
      if (begin >= end) continue;
      const float canary = std::numeric_limits<float>::quiet_NaN();
      std::vector<float> out(total * plane, canary);
      conv3x3Range(in.data(), s.images, s.cin, s.height, s.width, weights.data(), bias.data(),
                   s.cout, out.data(), begin, end);
      for (int k = 0; k < total; ++k) {
        for (int y = 0; y < s.height; ++y) {
          for (int x = 0; x < s.width; ++x) {
            const float got = out[k * plane + y * s.width + x];
            if (k < begin || k >= end) {
              ASSERT_TRUE(std::isnan(got)) << "wrote outside the range at " << k;
              continue;
            }
            const auto ref = le::test::refConv3x3(in.data(), s.cin, s.height, s.width,
                                                  weights.data(), bias.data(), s.cout, k, y, x);
            const double bound = (9.0 * s.cin + 2) * std::numeric_limits<float>::epsilon() *
                                 ref.magnitude;
            ASSERT_NEAR(got, ref.value, bound)
                << s.width << "x" << s.height << " k=" << k << " y=" << y << " x=" << x;
          }
        }
      }
    }
  }
}

// The blend head splits the pairs over its threads wherever the split falls; any split must give
// the same bits as one call over the whole range.
TEST_P(Conv3x3Test, AnySplitOfTheRangeGivesTheSameBits) {
  std::mt19937 rng(29);
  for (const Shape& s : kShapes) {
    const size_t plane = static_cast<size_t>(s.height) * s.width;
    const ConvCase c = randomCase(s, rng);
    const int total = s.images * s.cout;
    std::vector<float> whole(total * plane), split(total * plane);
    conv3x3Range(c.in.data(), s.images, s.cin, s.height, s.width, c.weights.data(), c.bias.data(),
                 s.cout, whole.data(), 0, total);
    for (int at = 1; at < total; ++at) {
      for (auto [begin, end] : {std::pair{0, at}, std::pair{at, total}}) {
        conv3x3Range(c.in.data(), s.images, s.cin, s.height, s.width, c.weights.data(),
                     c.bias.data(), s.cout, split.data(), begin, end);
      }
      ASSERT_EQ(0, std::memcmp(whole.data(), split.data(), sizeof(float) * whole.size()))
          << s.width << "x" << s.height << " cout=" << s.cout << " split at " << at;
    }
  }
}

LE_INSTANTIATE_PER_TARGET(Conv3x3Test);

}  // namespace
}  // namespace le::simd
