#include "render/ops/gridsample_fast.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using le::GridSampleExtent;

// ONNX GridSample (bilinear, border, align_corners = 0) written from the operator's definition:
// the float32 coordinate ((g + 1) * size - 1) / 2 is clamped to the border, then interpolated in
// double precision.
std::vector<float> reference(const std::vector<float>& X, const std::vector<float>& grid, const GridSampleExtent& e) {
  std::vector<float> Y(static_cast<size_t>(e.C * e.Ho * e.Wo));
  for (int64_t i = 0; i < e.Ho; ++i)
    for (int64_t j = 0; j < e.Wo; ++j) {
      const float gx = grid[(i * e.Wo + j) * 2], gy = grid[(i * e.Wo + j) * 2 + 1];
      const double x = std::clamp(double(((gx + 1.f) * float(e.W) - 1.f) / 2.f), 0.0, double(e.W - 1));
      const double y = std::clamp(double(((gy + 1.f) * float(e.H) - 1.f) / 2.f), 0.0, double(e.H - 1));
      const int64_t x0 = int64_t(std::floor(x)), y0 = int64_t(std::floor(y));
      const int64_t x1 = std::min(x0 + 1, e.W - 1), y1 = std::min(y0 + 1, e.H - 1);
      const double fx = x - x0, fy = y - y0;
      for (int64_t c = 0; c < e.C; ++c) {
        const float* p = X.data() + c * e.H * e.W;
        Y[(c * e.Ho + i) * e.Wo + j] = float((1 - fx) * (1 - fy) * p[y0 * e.W + x0] + fx * (1 - fy) * p[y0 * e.W + x1] +
                                             (1 - fx) * fy * p[y1 * e.W + x0] + fx * fy * p[y1 * e.W + x1]);
      }
    }
  return Y;
}

struct Data {
  std::vector<float> X, grid;
};

Data randomData(const GridSampleExtent& e, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(-1.f, 1.f), coord(-1.3f, 1.3f);
  std::uniform_int_distribution<int> pick(0, 9);
  Data d;
  d.X.resize(static_cast<size_t>(e.C * e.H * e.W));
  for (float& v : d.X) v = value(rng);
  d.grid.resize(static_cast<size_t>(e.Ho * e.Wo * 2));
  for (float& v : d.grid) {
    const int k = pick(rng);
    v = k == 0 ? -1.f : k == 1 ? 1.f : coord(rng);
  }
  return d;
}

using Kernel = void (*)(const float*, const float*, float*, const GridSampleExtent&, int64_t, int64_t);

struct PathCase {
  const char* name;
  Kernel kernel;
  bool needsAvx2;
};

const PathCase kPaths[] = {{"Scalar", &le::gridSampleScalar, false}, {"Avx2", &le::gridSampleAvx2, true}};

class GridSamplePaths : public testing::TestWithParam<std::tuple<PathCase, GridSampleExtent>> {
 protected:
  void SetUp() override {
    if (std::get<0>(GetParam()).needsAvx2 && !le::gridSampleAvx2Available()) GTEST_SKIP() << "CPU lacks AVX2 + FMA";
  }
  std::vector<float> run(const Data& d, const GridSampleExtent& e) {
    std::vector<float> Y(static_cast<size_t>(e.C * e.Ho * e.Wo), -7.f);
    std::get<0>(GetParam()).kernel(d.X.data(), d.grid.data(), Y.data(), e, 0, e.Ho);
    return Y;
  }
};

TEST_P(GridSamplePaths, MatchesTheReference) {
  const GridSampleExtent e = std::get<1>(GetParam());
  const Data d = randomData(e, 11);
  const std::vector<float> want = reference(d.X, d.grid, e), got = run(d, e);
  for (size_t k = 0; k < want.size(); ++k) ASSERT_NEAR(got[k], want[k], 1e-5) << "element " << k;
}

TEST_P(GridSamplePaths, GridEdgesTakeTheBorderPixels) {
  GridSampleExtent e = std::get<1>(GetParam());
  Data d = randomData(e, 5);
  // Every grid entry on an edge or beyond it, on both axes.
  const float edges[] = {-1.f, 1.f, -1.f, 1.f, -3.f, 1e30f, -1e30f, std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
  for (size_t k = 0; k < d.grid.size(); ++k) d.grid[k] = edges[(k * 7 + k / 2) % std::size(edges)];
  const std::vector<float> want = reference(d.X, d.grid, e), got = run(d, e);
  for (size_t k = 0; k < want.size(); ++k) ASSERT_NEAR(got[k], want[k], 1e-6) << "element " << k;
}

TEST_P(GridSamplePaths, NanCoordinatesStayInsideTheInput) {
  const GridSampleExtent e = std::get<1>(GetParam());
  Data d = randomData(e, 9);
  for (size_t k = 0; k < d.grid.size(); k += 3) d.grid[k] = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> got = run(d, e);
  for (float v : got) ASSERT_TRUE(std::isfinite(v));  // every tap read a real pixel
}

// Widths below, at and beyond one vector step, with tails of 0 to 7 columns; grids of another size.
INSTANTIATE_TEST_SUITE_P(
    Extents, GridSamplePaths,
    testing::Combine(testing::ValuesIn(kPaths),
                     testing::Values(GridSampleExtent{3, 9, 13, 9, 13}, GridSampleExtent{2, 20, 8, 20, 8}, GridSampleExtent{4, 5, 3, 5, 3},
                                     GridSampleExtent{1, 17, 67, 17, 67}, GridSampleExtent{2, 16, 20, 9, 31}, GridSampleExtent{5, 1, 1, 4, 9},
                                     GridSampleExtent{2, 12, 300, 3, 300})),
    [](const auto& info) {
      const GridSampleExtent& e = std::get<1>(info.param);
      return std::string(std::get<0>(info.param).name) + "_C" + std::to_string(e.C) + "_" + std::to_string(e.H) + "x" +
             std::to_string(e.W) + "_to_" + std::to_string(e.Ho) + "x" + std::to_string(e.Wo);
    });

TEST(GridSampleFast, PathsAgreeToFloatRounding) {
  if (!le::gridSampleAvx2Available()) GTEST_SKIP() << "CPU lacks AVX2 + FMA";
  const GridSampleExtent e{6, 64, 77, 64, 77};
  const Data d = randomData(e, 21);
  std::vector<float> a(static_cast<size_t>(e.C * e.Ho * e.Wo)), b(a.size());
  le::gridSampleScalar(d.X.data(), d.grid.data(), a.data(), e, 0, e.Ho);
  le::gridSampleAvx2(d.X.data(), d.grid.data(), b.data(), e, 0, e.Ho);
  for (size_t k = 0; k < a.size(); ++k) ASSERT_NEAR(a[k], b[k], 1e-6f);
}

TEST(GridSampleFast, ForcedScalarPathIsTheScalarKernel) {
  const GridSampleExtent e{3, 10, 21, 10, 21};
  const Data d = randomData(e, 2);
  std::vector<float> viaBand(static_cast<size_t>(e.C * e.Ho * e.Wo)), direct(viaBand.size());
  le::setGridSampleFastPath(le::GridSamplePath::Scalar);
  le::gridSampleImage(d.X.data(), d.grid.data(), viaBand.data(), e.C, e.H, e.W);
  le::setGridSampleFastPath(le::GridSamplePath::Auto);
  le::gridSampleScalar(d.X.data(), d.grid.data(), direct.data(), e, 0, e.Ho);
  EXPECT_EQ(viaBand, direct);
}

struct BandCase {
  int64_t row0, row1, first, last;  // rows [first, last) are written
};

class GsBandRows : public testing::TestWithParam<BandCase> {};

TEST_P(GsBandRows, WritesOnlyTheClampedRows) {
  const GridSampleExtent e{2, 8, 11, 8, 11};
  const Data d = randomData(e, 4);
  std::vector<float> Y(static_cast<size_t>(e.C * e.Ho * e.Wo), -7.f);
  le::gridSampleBand(d.X.data(), d.grid.data(), Y.data(), e.C, e.H, e.W, GetParam().row0, GetParam().row1);
  for (int64_t c = 0; c < e.C; ++c)
    for (int64_t i = 0; i < e.Ho; ++i) {
      const bool written = i >= GetParam().first && i < GetParam().last;
      EXPECT_EQ(Y[(c * e.Ho + i) * e.Wo] != -7.f, written) << "channel " << c << " row " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Bands, GsBandRows,
                         testing::Values(BandCase{0, 8, 0, 8}, BandCase{-5, 3, 0, 3}, BandCase{6, 40, 6, 8},
                                         BandCase{5, 5, 0, 0}, BandCase{7, 2, 0, 0}));

}  // namespace
