#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "paste/paste.h"

namespace {

struct Scene {
  int side, width, height;
  std::vector<float> crop;     // three planes, values 0..1
  std::vector<uint8_t> mask;   // side x side
  std::vector<uint8_t> frame;  // width x height RGB24
};

Scene makeScene(int side, int width, int height, uint32_t seed, bool fullMask = false) {
  Scene s{side, width, height, {}, {}, {}};
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  s.crop.resize(size_t(side) * side * 3);
  for (size_t i = 0; i < s.crop.size(); ++i) {
    const size_t p = i % (size_t(side) * side);
    s.crop[i] = 0.5f + 0.4f * std::sin(0.3f * float(p % side) + 0.2f * float(p / side) + float(i / (side * side))) +
                0.05f * unit(rng);
  }
  s.mask.resize(size_t(side) * side);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const float r = std::hypot(x - side / 2.0f, y - side / 2.0f) / (side / 2.0f);
      s.mask[size_t(y) * side + x] = fullMask ? 255 : uint8_t(std::clamp(255.0f * (1.2f - r) / 0.4f, 0.0f, 255.0f));
    }
  s.frame.resize(size_t(width) * height * 3);
  for (auto& b : s.frame) b = uint8_t(rng() & 0xff);
  return s;
}

// The same compositing, written directly in double precision: unsharp mask with mirror borders,
// fixed-point source positions with 32 phases, 8x8 Lanczos (a = 4) from the sinc formula, bilinear
// feather rounded to a byte, blend, clamp, truncate.
std::vector<uint8_t> referencePaste(const Scene& s, const float* M, double amount, double sigma, int ksize) {
  const int side = s.side, r = ksize / 2;
  auto reflect = [&](int q) { q = std::abs(q); return q < side ? q : 2 * side - q - 2; };
  std::vector<double> kernel(static_cast<size_t>(ksize));
  double ksum = 0;
  for (int i = 0; i < ksize; ++i) ksum += kernel[size_t(i)] = std::exp(-std::pow(i - (ksize - 1) / 2.0, 2) / (2 * sigma * sigma));
  for (double& k : kernel) k /= ksum;
  std::vector<std::vector<double>> planes(3, std::vector<double>(size_t(side) * side));
  for (int c = 0; c < 3; ++c) {
    const float* src = &s.crop[size_t(c) * side * side];
    std::vector<double> h(static_cast<size_t>(side) * side);
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        double acc = 0;
        for (int i = 0; i < ksize; ++i) acc += kernel[size_t(i)] * 255.0 * src[size_t(y) * side + reflect(x + i - r)];
        h[size_t(y) * side + x] = acc;
      }
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        double blur = 0;
        for (int i = 0; i < ksize; ++i) blur += kernel[size_t(i)] * h[size_t(reflect(y + i - r)) * side + x];
        const double v = 255.0 * src[size_t(y) * side + x];
        planes[size_t(c)][size_t(y) * side + x] = std::clamp((1 + amount) * v - amount * blur, 0.0, 255.0);
      }
  }
  auto sinc = [](double z) { return z == 0 ? 1.0 : std::sin(M_PI * z) / (M_PI * z); };
  auto lanczos = [&](int phase, double* w) {
    const double t = phase / 32.0;
    double sum = 0;
    for (int j = 0; j < 8; ++j) sum += w[j] = sinc(t + 3 - j) * sinc((t + 3 - j) / 4);
    for (int j = 0; j < 8; ++j) w[j] /= sum;
  };
  const double det = double(M[0]) * M[4] - double(M[1]) * M[3];
  const double dudX = M[4] / det, dvdX = -M[3] / det, dudY = -M[1] / det, dvdY = M[0] / det;
  const double uBase = -(M[2] * M[4] / det + M[5] * (-M[1] / det));
  const double vBase = -(M[2] * (-M[3] / det) + M[5] * M[0] / det);
  std::vector<uint8_t> out = s.frame;
  for (int Y = 0; Y < s.height; ++Y)
    for (int X = 0; X < s.width; ++X) {
      const int u = int(std::rint((Y * dudY + uBase) * 1024)) + 16 + int(std::rint(X * dudX * 1024));
      const int v = int(std::rint((Y * dvdY + vBase) * 1024)) + 16 + int(std::rint(X * dvdX * 1024));
      const int px = u >> 10, py = v >> 10, fu = (u >> 5) & 31, fv = (v >> 5) & 31;
      if (u < -1024 || v < -1024 || px >= side || py >= side) continue;
      auto m = [&](int x, int y) { return x >= 0 && y >= 0 && x < side && y < side ? double(s.mask[size_t(y) * side + x]) : 0.0; };
      const double tu = fu / 32.0, tv = fv / 32.0;
      const double mw = (m(px, py) * (1 - tu) + m(px + 1, py) * tu) * (1 - tv) + (m(px, py + 1) * (1 - tu) + m(px + 1, py + 1) * tu) * tv;
      const double alpha = std::nearbyint(mw) / 255.0;
      if (alpha <= 0) continue;
      double wu[8], wv[8];
      lanczos(fu, wu);
      lanczos(fv, wv);
      for (int c = 0; c < 3; ++c) {
        double colour = 0;
        for (int j = 0; j < 8; ++j)
          for (int i = 0; i < 8; ++i) {
            const int sx = px - 3 + i, sy = py - 3 + j;
            if (sx >= 0 && sy >= 0 && sx < side && sy < side) colour += wv[j] * wu[i] * planes[size_t(c)][size_t(sy) * side + sx];
          }
        uint8_t& dst = out[(size_t(Y) * s.width + X) * 3 + c];
        dst = uint8_t(std::clamp(dst * (1 - alpha) + alpha * colour, 0.0, 255.0));
      }
    }
  return out;
}

// The unsharp mask in single precision, step by step over whole padded planes: mirror padding, a
// horizontal pass over the flat index of the padded plane, a vertical pass, the sharpening; every
// sum adds its products in increasing tap order from 0.
std::vector<float> referenceUnsharp(std::vector<float> plane, int side, const std::vector<float>& kernel,
                                    float amount) {
  const int ksize = int(kernel.size()), r = ksize / 2, padded = side + ksize - 1;
  auto reflect = [&](int q) { q = std::abs(q); return q < side ? q : 2 * side - q - 2; };
  std::vector<float> pad(size_t(padded) * padded), h(pad.size());
  for (int i = 0; i < padded; ++i)
    for (int k = 0; k < padded; ++k) pad[size_t(i) * padded + k] = plane[size_t(reflect(i - r)) * side + reflect(k - r)];
  for (size_t t = 0; t + size_t(ksize) <= pad.size(); ++t) {
    float sum = 0.0f;
    for (int i = 0; i < ksize; ++i) sum += kernel[size_t(i)] * pad[t + size_t(i)];
    h[t] = sum;
  }
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      float blur = 0.0f;
      for (int i = 0; i < ksize; ++i) blur += kernel[size_t(i)] * h[size_t(y + i) * padded + size_t(x)];
      float& v = plane[size_t(y) * side + x];
      v = std::clamp((1.0f + amount) * v - amount * blur, 0.0f, 255.0f);
    }
  return plane;
}

std::string constructionError(size_t maskBytes, int side, int ksize) {
  try {
    le::Paste p(std::vector<uint8_t>(maskBytes, 255), side, le::Unsharp{1.0f, 2.0f, ksize});
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

class PasteEnv : public testing::Test {
 protected:
  void TearDown() override {
    unsetenv("LE_PASTE_FAST");
    unsetenv("LE_PASTE_KSIZE");
  }
};

}  // namespace

TEST_F(PasteEnv, ConstructionRefusesBadMasksAndKernels) {
  EXPECT_EQ(constructionError(16 * 16 - 1, 16, 5), "paste: mask size");
  EXPECT_EQ(constructionError(16 * 16, 16, 4), "paste: ksize must be odd");
  EXPECT_EQ(constructionError(16 * 16, 16, 0), "paste: ksize must be odd");
  EXPECT_EQ(constructionError(16 * 16, 16, -3), "paste: ksize must be odd");
  EXPECT_EQ(constructionError(4 * 4, 4, 9), "paste: ksize too large for the crop");
  EXPECT_EQ(constructionError(0, 0, 1), "paste: mask size");
}

TEST_F(PasteEnv, EnvironmentPicksExecutorAndOnlyNarrowsTheKernel) {
  setenv("LE_PASTE_FAST", "3", 1);
  setenv("LE_PASTE_KSIZE", "7", 1);
  le::Paste a(std::vector<uint8_t>(256, 255), 16, le::Unsharp{1.0f, 2.0f, 5});
  EXPECT_EQ(a.executor(), le::Paste::kLanczos8);
  EXPECT_EQ(a.ksize(), 5);
  setenv("LE_PASTE_FAST", "2", 1);
  setenv("LE_PASTE_KSIZE", "3", 1);
  le::Paste b(std::vector<uint8_t>(256, 255), 16, le::Unsharp{1.0f, 2.0f, 5});
  EXPECT_EQ(b.executor(), le::Paste::kBilinear);
  EXPECT_EQ(b.ksize(), 3);
  EXPECT_EQ(b.padded(), 18);
}

// With amount 0 and an integer translation every inside pixel has phase 0 (a unit tap), so where
// the mask is 255 the frame takes the crop value, truncated; every executor agrees.
TEST_F(PasteEnv, IntegerTranslationPastesTheCropOneToOne) {
  for (const char* mode : {"0", "1", "2"}) {
    setenv("LE_PASTE_FAST", mode, 1);
    Scene s = makeScene(24, 64, 48, 7, true);
    le::Paste paste(s.mask, s.side, le::Unsharp{0.0f, 2.0f, 5});
    const float M[6] = {1, 0, 17, 0, 1, 9};
    paste.composite(s.crop.data(), 255.0f, M, s.frame.data(), s.width, s.height);
    for (int y = 0; y < s.side; ++y)
      for (int x = 0; x < s.side; ++x)
        for (int c = 0; c < 3; ++c) {
          const float v = 255.0f * s.crop[size_t(c) * s.side * s.side + size_t(y) * s.side + x];
          ASSERT_EQ(s.frame[(size_t(y + 9) * s.width + x + 17) * 3 + c], uint8_t(v)) << mode << " " << x << "," << y;
        }
  }
}

TEST_F(PasteEnv, LanczosAgreesWithADoublePrecisionReferenceAndWritesOnlyInside) {
  const float angle = 0.15f, scale = 1.4f;
  Scene s = makeScene(48, 120, 100, 3);
  const float M[6] = {scale * std::cos(angle), -scale * std::sin(angle), 30.3f,
                      scale * std::sin(angle), scale * std::cos(angle), 12.7f};
  const std::vector<uint8_t> before = s.frame;
  std::vector<uint8_t> expect = referencePaste(s, M, 1.3, 2.0, 7);
  le::Paste paste(s.mask, s.side, le::Unsharp{1.3f, 2.0f, 7});
  paste.composite(s.crop.data(), 255.0f, M, s.frame.data(), s.width, s.height);
  int worst = 0, changed = 0;
  for (size_t i = 0; i < expect.size(); ++i) {
    worst = std::max(worst, std::abs(int(expect[i]) - int(s.frame[i])));
    changed += expect[i] != before[i];
  }
  EXPECT_LE(worst, 1);
  EXPECT_GT(changed, 48 * 48);
  // Outside the grown crop square's bounding box nothing is written at all.
  float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
  for (float cy : {-4.0f, 51.0f})
    for (float cx : {-4.0f, 51.0f}) {
      minX = std::min(minX, M[0] * cx + M[1] * cy + M[2]), maxX = std::max(maxX, M[0] * cx + M[1] * cy + M[2]);
      minY = std::min(minY, M[3] * cx + M[4] * cy + M[5]), maxY = std::max(maxY, M[3] * cx + M[4] * cy + M[5]);
    }
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < s.width; ++x)
      if (x < std::floor(minX) || x > std::ceil(maxX) || y < std::floor(minY) || y > std::ceil(maxY))
        for (int c = 0; c < 3; ++c) ASSERT_EQ(s.frame[(size_t(y) * s.width + x) * 3 + c], before[(size_t(y) * s.width + x) * 3 + c]);
}

// Odd sides (vector tails), a kernel as wide as the mirror allows and the narrowest one.
TEST_F(PasteEnv, UnsharpMaskGivesTheSingleStepFormulaBitForBit) {
  for (auto [side, ksize] : {std::pair{37, 13}, std::pair{64, 13}, std::pair{9, 17}, std::pair{20, 3}}) {
    std::mt19937 rng{uint32_t(side)};
    std::uniform_real_distribution<float> value(0.0f, 255.0f);
    std::vector<float> plane(size_t(side) * side);
    for (float& f : plane) f = value(rng);
    le::Paste paste(std::vector<uint8_t>(plane.size(), 255), side, le::Unsharp{1.3f, 2.0f, ksize});
    const std::vector<float> expected = referenceUnsharp(plane, side, le::paste::gaussianTaps(ksize, 2.0f), 1.3f);
    paste.unsharpPlane(plane);
    ASSERT_EQ(plane, expected) << "side " << side << " ksize " << ksize;
  }
}

TEST_F(PasteEnv, DegenerateOrOutsideTransformsLeaveTheFrameAlone) {
  Scene s = makeScene(16, 40, 30, 5);
  const std::vector<uint8_t> before = s.frame;
  le::Paste paste(s.mask, s.side, le::Unsharp{1.0f, 2.0f, 5});
  const float singular[6] = {1, 2, 3, 2, 4, 5};
  const float outside[6] = {1, 0, 500, 0, 1, 500};
  const float nan[6] = {1, 0, NAN, 0, 1, 0};
  const float tiny[6] = {1e-30f, 0, 5, 0, 1e-30f, 5};
  for (const float* M : {singular, outside, nan}) {
    paste.composite(s.crop.data(), 255.0f, M, s.frame.data(), s.width, s.height);
    EXPECT_EQ(s.frame, before);
  }
  // A collapsed crop overflows no fixed-point position; it only touches pixels near its point.
  paste.composite(s.crop.data(), 255.0f, tiny, s.frame.data(), s.width, s.height);
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < s.width; ++x)
      if (std::abs(x - 5) > 1 || std::abs(y - 5) > 1)
        ASSERT_EQ(s.frame[(size_t(y) * s.width + x) * 3], before[(size_t(y) * s.width + x) * 3]);
}

TEST_F(PasteEnv, OversizedCropIsRefusedAtConstruction) {
  const int side = 1025;
  EXPECT_THROW(
      try {
        le::Paste paste(std::vector<uint8_t>(size_t(side) * side, 255), side, le::Unsharp{1.0f, 2.0f, 3});
      } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "paste: side > 1024: a face crop of 1025 pixels is larger than the compositor pastes");
        throw;
      },
      std::runtime_error);
  EXPECT_NO_THROW(le::Paste(std::vector<uint8_t>(1024 * 1024, 255), 1024, le::Unsharp{1.0f, 2.0f, 3}));
}

// Reading the driver frame in place and writing another frame gives, byte for byte, what the
// in-place paste leaves in a copy of the driver frame: inside the box, outside it, for every
// executor, for a box clipped by the frame's edges and for transforms that paste nothing.
TEST_F(PasteEnv, DriverToOutputPasteEqualsTheInPlacePasteOnACopy) {
  const float angle = 0.2f, scale = 1.3f;
  const float rotated[6] = {scale * std::cos(angle), -scale * std::sin(angle), 40.3f,
                            scale * std::sin(angle), scale * std::cos(angle), 30.7f};
  const float clipped[6] = {1.5f, 0, -20.2f, 0, 1.5f, 70.4f};
  const float singular[6] = {1, 2, 3, 2, 4, 5};
  const float outside[6] = {1, 0, 500, 0, 1, 500};
  for (const char* mode : {"0", "1", "2"}) {
    setenv("LE_PASTE_FAST", mode, 1);
    for (const float* M : {rotated, clipped, singular, outside}) {
      Scene s = makeScene(40, 150, 110, 11);
      le::Paste paste(s.mask, s.side, le::Unsharp{1.3f, 2.0f, 7});
      const std::vector<uint8_t> driver = s.frame;
      std::vector<uint8_t> out(driver.size(), 0xA5);
      paste.composite(s.crop.data(), 255.0f, M, driver.data(), out.data(), s.width, s.height);
      paste.composite(s.crop.data(), 255.0f, M, s.frame.data(), s.width, s.height);
      ASSERT_EQ(out, s.frame) << "executor " << mode << " M[2] " << M[2];
    }
  }
}
