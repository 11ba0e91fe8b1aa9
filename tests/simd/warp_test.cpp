#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "simd/per_target.h"
#include "simd/reference.h"
#include "simd/simd.h"

namespace le::simd {
namespace {

using le::test::bitsOf;

struct Extent {
  int width, height;
};

// Widths below, at and beyond one row chunk of the kernel (64 pixels) with vector tails, odd
// heights, and single rows and columns where every neighbour is clamped.
const Extent kExtents[] = {{37, 29}, {1, 1}, {1, 9}, {9, 1}, {67, 5}, {130, 3}, {16, 16}};

std::vector<float> randomSource(const Extent& e, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(-1.0f, 2.0f);
  std::vector<float> src(static_cast<size_t>(3) * e.width * e.height);
  for (float& v : src) v = value(rng);
  return src;
}

// Coordinates inside and outside [-1, 1], the edges exactly, far-off and non-finite values (which
// must still read inside the image).
std::vector<float> randomGrid(const Extent& e, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> coord(-1.4f, 1.4f);
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const float special[] = {-1.0f, 1.0f, 0.0f, -3.5f, 7.25f, 1e9f, -1e9f, kInf, -kInf,
                           std::numeric_limits<float>::quiet_NaN()};
  std::vector<float> grid(static_cast<size_t>(2) * e.width * e.height);
  for (size_t k = 0; k < grid.size(); ++k)
    grid[k] = rng() % 9 == 0 ? special[rng() % std::size(special)] : coord(rng);
  return grid;
}

// Every finite or infinite value, and the sign of every zero, must match to the bit. A NaN must
// meet a NaN, but its sign is not compared: a NaN coordinate reaches the output through
// arithmetic, where the sign of the resulting NaN is left open and differs between the compiler's
// instruction choices (it does under the sanitizers).
void expectSameBits(const std::vector<float>& got, const std::vector<float>& want, const std::string& what) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < got.size(); ++k) {
    if (std::isnan(want[k]) && std::isnan(got[k])) continue;
    ASSERT_EQ(bitsOf(got[k]), bitsOf(want[k])) << what << " element " << k << ": " << got[k] << " vs " << want[k];
  }
}

class WarpKernel : public le::test::PerTarget {};

TEST_P(WarpKernel, PlanesEqualTheReference) {
  for (const Extent& e : kExtents) {
    const std::vector<float> src = randomSource(e, 3);
    std::vector<float> planes(static_cast<size_t>(12) * e.width * e.height, -9.0f);
    warpPlanesRows(src.data(), e.width, e.height, 0, e.height, planes.data());
    expectSameBits(planes, le::test::refWarpPlanes(src.data(), e.width, e.height),
                   std::to_string(e.width) + "x" + std::to_string(e.height));
  }
}

TEST_P(WarpKernel, GatherEqualsTheReference) {
  for (const Extent& e : kExtents) {
    const std::vector<float> src = randomSource(e, 5), grid = randomGrid(e, 6);
    const std::vector<float> planes = le::test::refWarpPlanes(src.data(), e.width, e.height);
    std::vector<float> out(src.size(), -9.0f);
    warpGatherRows(planes.data(), 0, e.height, grid.data(), e.width, e.height, 0, e.height, out.data());
    expectSameBits(out, le::test::refWarpGather(planes, grid.data(), e.width, e.height),
                   std::to_string(e.width) + "x" + std::to_string(e.height));
  }
}

// Rows outside the window of planes a band holds are read at the window's edge, never outside it:
// the result is that of planes whose rows above the window repeat its first row and whose rows
// below repeat its last.
TEST_P(WarpKernel, GatherReadsOnlyItsWindowOfPlaneRows) {
  const Extent e{21, 12};
  const std::vector<float> src = randomSource(e, 8), grid = randomGrid(e, 9);
  const std::vector<float> planes = le::test::refWarpPlanes(src.data(), e.width, e.height);
  const size_t rowFloats = static_cast<size_t>(12) * e.width;
  const size_t first = 4, end = 7;
  const std::vector<float> window(planes.begin() + first * rowFloats, planes.begin() + end * rowFloats);
  std::vector<float> edgeRepeated(planes.size());
  for (size_t y = 0; y < static_cast<size_t>(e.height); ++y) {
    const size_t from = std::clamp(y, first, end - 1) - first;
    std::copy_n(window.begin() + from * rowFloats, rowFloats, edgeRepeated.begin() + y * rowFloats);
  }
  std::vector<float> out(src.size());
  warpGatherRows(window.data(), first, end, grid.data(), e.width, e.height, 0, e.height, out.data());
  expectSameBits(out, le::test::refWarpGather(edgeRepeated, grid.data(), e.width, e.height), "window");
}

TEST_P(WarpKernel, SourceRowsCoverEveryRowTheGatherReads) {
  const Extent e{40, 30};
  std::vector<float> grid(static_cast<size_t>(2) * e.width * e.height);
  // A gentle warp: output row i samples source row position 0.8 i + 2.3.
  for (int i = 0; i < e.height; ++i)
    for (int j = 0; j < e.width; ++j) {
      grid[(i * e.width + j) * 2] = (2.0f * j + 1.0f) / e.width - 1.0f;
      grid[(i * e.width + j) * 2 + 1] = (2.0f * (0.8f * i + 2.3f) + 1.0f) / e.height - 1.0f;
    }
  size_t first = 0, last = 0;
  warpSourceRows(grid.data(), e.width, e.height, 10, 14, &first, &last);
  EXPECT_EQ(first, 10u);  // row 10 samples y = 10.3
  EXPECT_EQ(last, 13u);   // row 13 samples y = 12.7, between rows 12 and 13
  warpSourceRows(grid.data(), e.width, e.height, 0, e.height, &first, &last);
  EXPECT_EQ(first, 2u);   // y = 2.3
  EXPECT_EQ(last, 26u);   // y = 25.5
}

LE_INSTANTIATE_PER_TARGET(WarpKernel);

}  // namespace
}  // namespace le::simd
