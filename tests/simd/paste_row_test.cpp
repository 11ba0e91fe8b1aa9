#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "simd/per_target.h"
#include "simd/reference.h"
#include "simd/simd.h"

namespace le::simd {
namespace {

constexpr int kSide = 48;

// Lanczos (a = 4) and bilinear taps for 32 phases, built the way the compositor builds them.
struct Taps {
  std::vector<float> lanczos = std::vector<float>(32 * 8);
  std::vector<float> bilinear = std::vector<float>(32 * 2);
  Taps() {
    auto sinc = [](double t) { return t == 0 ? 1.0 : std::sin(M_PI * t) / (M_PI * t); };
    for (int p = 0; p < 32; ++p) {
      const double f = p / 32.0;
      for (int j = 0; j < 8; ++j) {
        const double t = (j - 3) - f;
        lanczos[p * 8 + j] = static_cast<float>(std::fabs(t) < 4 ? sinc(t) * sinc(t / 4) : 0.0);
      }
      bilinear[p * 2] = static_cast<float>(1 - f);
      bilinear[p * 2 + 1] = static_cast<float>(f);
    }
  }
};

struct Scene {
  Taps taps;
  std::vector<float> crop4 = std::vector<float>(kSide * kSide * 4);
  std::vector<uint8_t> mask = std::vector<uint8_t>(kSide * kSide);
  explicit Scene(uint32_t seed) {
    std::mt19937 rng(seed);
    for (float& c : crop4) c = static_cast<float>(rng() % 25600) / 100.0f;
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        // A feathered disc with a few holes, so that weights of 0 and partial weights occur.
        const double r = std::hypot(x - 23.5, y - 23.5);
        const int base = static_cast<int>(std::clamp((22 - r) * 40, 0.0, 255.0));
        mask[y * kSide + x] = static_cast<uint8_t>(rng() % 17 == 0 ? 0 : base);
      }
    }
    mask[0] = 255;
  }
  void paste(const std::vector<int>& colU, const std::vector<int>& colV, int rowU, int rowV,
             int x0, int x1, uint8_t* row) const {
    pasteLanczos8Row(crop4.data(), kSide, mask.data(), taps.lanczos.data(), taps.bilinear.data(),
                     colU.data(), colV.data(), rowU, rowV, x0, x1, row);
  }
  void reference(const std::vector<int>& colU, const std::vector<int>& colV, int rowU, int rowV,
                 int x0, int x1, uint8_t* row) const {
    le::test::refPasteRow(crop4.data(), kSide, mask.data(), taps.lanczos.data(),
                          taps.bilinear.data(), colU.data(), colV.data(), rowU, rowV, x0, x1, row);
  }
};

void expectReferenceRows(const Scene& scene) {
  const int x0 = 10, x1 = 92;
  std::vector<int> colU(x1 - x0 + 1), colV(x1 - x0 + 1);
  for (int i = 0; i <= x1 - x0; ++i) {
    colU[i] = -2500 + i * 731;
    colV[i] = i * 37 - 700;
  }
  std::mt19937 rng(4);
  int inside = 0, border = 0;
  for (int rowU : {0, 333, -17}) {
    for (int rowV : {-1500, -1024, -600, 0, 1000, 3072, 3100, 20000, 45000, 47500, 49500}) {
      std::vector<uint8_t> got(3 * (x1 + 2)), expected;
      for (uint8_t& b : got) b = static_cast<uint8_t>(rng());
      expected = got;
      scene.paste(colU, colV, rowU, rowV, x0, x1, got.data());
      scene.reference(colU, colV, rowU, rowV, x0, x1, expected.data());
      ASSERT_EQ(got, expected) << "rowU " << rowU << " rowV " << rowV;
      for (int i = 0; i <= x1 - x0; ++i) {
        const int u = rowU + colU[i], v = rowV + colV[i];
        const bool fast = u > 3071 && v > 3071 && (u >> 10) + 4 < kSide && (v >> 10) + 4 < kSide;
        (fast ? inside : border) += 1;
      }
    }
  }
  EXPECT_GT(inside, 100);
  EXPECT_GT(border, 100);
}

class PasteRowTest : public le::test::PerTarget {};

// Rows that cross the crop from outside to outside at a 1.4x scale and a slight rotation, so
// that both the fully-inside path and the bounds-checked path run; both must give the
// reference's bytes, with the linear feather taps and with taps of any other shape.
TEST_P(PasteRowTest, InsideAndBorderPixelsMatchTheReference) {
  for (bool linear : {true, false}) {
    SCOPED_TRACE(linear ? "linear feather taps" : "other feather taps");
    Scene scene(21);
    if (!linear)
      for (int p = 0; p < 32; ++p) scene.taps.bilinear[p * 2] += 0.01f * std::sin(static_cast<float>(p));
    expectReferenceRows(scene);
  }
}

struct EdgeCase {
  const char* name;
  int u;
  uint8_t firstColumnMask;
  bool changes;
};

class PasteRowEdgeTest : public le::test::PerTarget {};

// Destination pixel at source row 5 (phase 0) and column position u.
TEST_P(PasteRowEdgeTest, MaskWeightAtTheLeftEdge) {
  const EdgeCase cases[] = {
      {"half a pixel left, weight 0.5 rounds to 0", -512, 1, false},
      {"half a pixel left, weight 1.5 rounds to 2", -512, 3, true},
      {"one pixel left, weight 0", -1024, 255, false},
      {"further left, skipped", -1025, 255, false},
  };
  for (const EdgeCase& c : cases) {
    Scene scene(8);
    for (float& f : scene.crop4) f = 255.0f;
    scene.mask[5 * kSide] = c.firstColumnMask;
    const std::vector<int> colU{c.u}, colV{0};
    std::vector<uint8_t> got(3, 0), expected(3, 0);
    scene.paste(colU, colV, 0, 5 * 1024, 0, 0, got.data());
    scene.reference(colU, colV, 0, 5 * 1024, 0, 0, expected.data());
    EXPECT_EQ(got, expected) << c.name;
    EXPECT_EQ(got != std::vector<uint8_t>(3, 0), c.changes) << c.name;
  }
}

// A crop of one pixel: the whole mask is a single byte; positions around it on both axes.
TEST_P(PasteRowEdgeTest, OnePixelCropMatchesTheReference) {
  const Taps taps;
  const std::vector<float> crop4{200.0f, 100.0f, 50.0f, 0.0f};
  const uint8_t mask[1] = {255};
  const std::vector<int> colU{-1100, -1024, -700, -512, -200, 0, 300, 700, 1023, 1024};
  for (int rowV : {-1024, -600, 0, 400, 1023, 1024}) {
    const std::vector<int> colV(colU.size(), 0);
    std::vector<uint8_t> got(3 * colU.size(), 30), expected = got;
    pasteLanczos8Row(crop4.data(), 1, mask, taps.lanczos.data(), taps.bilinear.data(), colU.data(), colV.data(), 0,
                     rowV, 0, int(colU.size()) - 1, got.data());
    le::test::refPasteRow(crop4.data(), 1, mask, taps.lanczos.data(), taps.bilinear.data(), colU.data(),
                          colV.data(), 0, rowV, 0, int(colU.size()) - 1, expected.data());
    ASSERT_EQ(got, expected) << "rowV " << rowV;
  }
}

TEST_P(PasteRowEdgeTest, EmptyRowWritesNothing) {
  const Scene scene(2);
  const std::vector<int> colU{10000}, colV{10000};
  std::vector<uint8_t> row(30, 7);
  scene.paste(colU, colV, 0, 0, 5, 4, row.data());
  EXPECT_EQ(row, std::vector<uint8_t>(30, 7));
}

class PasteUnsharpRowTest : public le::test::PerTarget {};

// Row lengths around the vector widths (vector body and scalar tail), a 13-tap kernel along a
// row (stride 1) and down a plane (stride of a row), and the one-tap kernel.
TEST_P(PasteUnsharpRowTest, BlurMatchesTheReference) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> value(0.0f, 255.0f), weight(-0.2f, 0.6f);
  const size_t stride = 70;
  std::vector<float> plane(stride * 14 + 16);
  for (float& f : plane) f = value(rng);
  for (int taps : {13, 1}) {
    std::vector<float> kernel(static_cast<size_t>(taps));
    for (float& k : kernel) k = weight(rng);
    for (size_t step : {size_t(1), stride}) {
      for (size_t n : {1, 3, 8, 15, 16, 17, 33, 64}) {
        std::vector<float> got(n + 1, -1.0f), expected(n + 1, -1.0f);
        pasteBlurRow(plane.data() + 1, step, kernel.data(), taps, got.data(), n);
        le::test::refBlurRow(plane.data() + 1, step, kernel.data(), taps, expected.data(), n);
        ASSERT_EQ(got, expected) << "taps " << taps << " stride " << step << " n " << n;
      }
    }
  }
}

// Values that clamp at both ends, a NaN blur (to 0), and lengths around the vector widths.
TEST_P(PasteUnsharpRowTest, SharpenMatchesTheReferenceAndClamps) {
  std::mt19937 rng(10);
  std::uniform_real_distribution<float> value(-20.0f, 280.0f);
  for (size_t n : {1, 7, 8, 9, 16, 31}) {
    std::vector<float> row(n), blur(n);
    for (size_t i = 0; i < n; ++i) row[i] = value(rng), blur[i] = value(rng);
    blur[n / 2] = NAN;
    std::vector<float> expected = row;
    pasteSharpenRow(row.data(), blur.data(), 1.3f, n);
    le::test::refSharpenRow(expected.data(), blur.data(), 1.3f, n);
    ASSERT_EQ(row, expected) << "n " << n;
    for (float f : row) ASSERT_TRUE(f >= 0.0f && f <= 255.0f) << f;
  }
}

LE_INSTANTIATE_PER_TARGET(PasteRowTest);
LE_INSTANTIATE_PER_TARGET(PasteRowEdgeTest);
LE_INSTANTIATE_PER_TARGET(PasteUnsharpRowTest);

}  // namespace
}  // namespace le::simd
