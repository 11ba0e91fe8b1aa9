#include <gtest/gtest.h>

#include <cmath>
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

class Conv3x3Test : public le::test::PerTarget {};

TEST_P(Conv3x3Test, MatchesTheExactSumToFloatRounding) {
  std::mt19937 rng(13);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  const Shape shapes[] = {{1, 1, 1, 1, 1},  {2, 3, 5, 7, 4},  {1, 2, 4, 16, 3},
                          {2, 1, 3, 17, 2}, {1, 4, 9, 33, 5}, {3, 2, 6, 40, 2}};
  for (const Shape& s : shapes) {
    const size_t plane = static_cast<size_t>(s.height) * s.width;
    std::vector<float> in(s.images * s.cin * plane), weights(s.cout * s.cin * 9), bias(s.cout);
    for (float& x : in) x = value(rng);
    for (float& x : weights) x = value(rng);
    for (float& x : bias) x = value(rng);
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

LE_INSTANTIATE_PER_TARGET(Conv3x3Test);

}  // namespace
}  // namespace le::simd
