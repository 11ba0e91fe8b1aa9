// The lip contour against the baker's numpy reference (polygon, box, feathered alpha, delivered
// mask, shifted mask and shift, on frames of our person, with and without the map), and the
// geometry of small hand-made contours: the unit polygon's scaling, the map's formula, the
// outward feather's values, the empty box and the shrinking of a given mask.
#include "tessera/lip_contour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tessera/unified_pi.h"

namespace {

using le::tessera::Box;
using le::tessera::LipContour;
using le::tessera::UnifiedPi;

template <class T>
std::vector<T> readAll(const std::string& path) {
  const std::string bytes = le::test::readFile(path);
  std::vector<T> out(bytes.size() / sizeof(T));
  std::memcpy(out.data(), bytes.data(), out.size() * sizeof(T));
  return out;
}

// "" when the two canvases hold the same bytes, else where the first difference is and how many.
template <class T>
std::string difference(const T* got, const T* want, int canvas) {
  size_t count = 0, first = 0;
  for (size_t i = 0; i < size_t(canvas) * canvas; ++i)
    if (std::memcmp(&got[i], &want[i], sizeof(T)) != 0 && count++ == 0) first = i;
  if (count == 0) return "";
  return std::to_string(count) + " differences, the first at x " + std::to_string(first % canvas) + ", y " +
         std::to_string(first / canvas) + ": " + std::to_string(double(got[first])) + " instead of " +
         std::to_string(double(want[first]));
}

struct ReferenceCase {
  const char* name;
  int canvas;
};

class LipContourReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(LipContourReference, EqualsTheNumpyReferenceByteForByte) {
  const int canvas = GetParam().canvas;
  const std::string dir = std::string(LE_TEST_FIXTURES) + "/lip-ref/" + GetParam().name + "/";
  LipContour contour = LipContour::fromTemplateJson(le::test::readFile(dir + "template.json"), canvas);
  const UnifiedPi pi = UnifiedPi::fromManifestJson(le::test::readFile(dir + "manifest.json"), canvas);
  const auto kp = readAll<float>(dir + "kp.f32");
  const auto verts = readAll<double>(dir + "verts.f64");
  const auto boxes = readAll<int32_t>(dir + "box.i32");
  const auto alpha = readAll<float>(dir + "alpha.f32");
  const auto delivered = readAll<uint8_t>(dir + "delivered.u8");
  const auto shifted = readAll<uint8_t>(dir + "shifted.u8");
  const auto shifts = readAll<int32_t>(dir + "shift.i32");
  const auto cCanon = readAll<float>(dir + "c_canon.f32");
  const size_t frames = kp.size() / 63, area = size_t(canvas) * canvas, nv2 = 2 * size_t(contour.vertexCount());
  ASSERT_EQ(frames, 12u);
  ASSERT_EQ(verts.size(), frames * nv2);
  ASSERT_EQ(alpha.size(), frames * area);
  ASSERT_EQ(cCanon.size(), 2u);
  std::vector<double> polygon;
  std::vector<float> canvasAlpha(area);
  std::vector<uint8_t> mask(area);
  for (size_t f = 0; f < frames; ++f) {
    const float* k = &kp[f * 63];
    contour.polygon(k, polygon);
    EXPECT_EQ(polygon, std::vector<double>(verts.begin() + long(f * nv2), verts.begin() + long((f + 1) * nv2))) << f;
    const Box b = contour.box(polygon);
    EXPECT_EQ(std::vector<int32_t>({b.x0, b.y0, b.x1, b.y1}),
              std::vector<int32_t>(boxes.begin() + long(f * 4), boxes.begin() + long(f * 4 + 4))) << f;
    contour.contourF32Canvas(k, canvasAlpha.data());
    EXPECT_EQ(difference(canvasAlpha.data(), &alpha[f * area], canvas), "") << "alpha of frame " << f;
    contour.deliveredU8(k, pi, mask.data());
    EXPECT_EQ(difference(mask.data(), &delivered[f * area], canvas), "") << "delivered mask of frame " << f;
    int rows = 0, cols = 0;
    const bool found = contour.deliveredU8AndShift(k, pi, cCanon.data(), mask.data(), rows, cols);
    EXPECT_EQ(difference(mask.data(), &shifted[f * area], canvas), "") << "shifted mask of frame " << f;
    EXPECT_EQ(std::vector<int32_t>({found, rows, cols}),
              std::vector<int32_t>(shifts.begin() + long(f * 3), shifts.begin() + long(f * 3 + 3))) << f;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LipContourReference,
                         ::testing::Values(ReferenceCase{"nomap-64", 64}, ReferenceCase{"map-64", 64},
                                           ReferenceCase{"nomap-128", 128}, ReferenceCase{"map-128", 128}),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

constexpr int kCanvas = 64;

// Keypoints whose row 14 sits at canvas pixel (px, py) and whose other rows are at the centre.
std::vector<float> keypointsAt(double px, double py) {
  std::vector<float> kp(63, 0.0f);
  kp[14 * 3] = float(px / (kCanvas * 0.5) - 1.0);
  kp[14 * 3 + 1] = float(py / (kCanvas * 0.5) - 1.0);
  return kp;
}

// A 10 x 6 pixel rectangle around row 14 (a map that ignores the anchor's offset), feather 4:
// at row 14 = (32, 32) its vertices are (27, 29), (37, 29), (37, 35), (27, 35).
LipContour rectangle() {
  const double unit[] = {-1, -1, 1, -1, 1, 1, -1, 1};
  const int32_t row14[] = {14};
  LipContour c(kCanvas, 4.0f, unit, 4, row14, 1);
  const std::vector<double> W(8 * 2, 0.0), b = {-5, -3, 5, -3, 5, 3, -5, 3};
  c.attachMap(W.data(), b.data(), 8, 2, row14, 1);
  return c;
}

UnifiedPi piGeometry() {
  return UnifiedPi::fromManifestJson(
      R"({"unified": {"pi": {"mode": "prop", "prop_gate_scale": 1, "lip_idx": [6, 12, 14, 17, 18, 19, 20],
          "lip_geom_params": [0.05, 0.08, 0.015]}}})",
      kCanvas);
}

float smoothstep(double t) { return float(t * t * (3.0 - 2.0 * t)); }

TEST(LipContour, PolygonScalesTheUnitPolygonOrAppliesTheMap) {
  // Anchors 17..20 at pixels (20, 30), (40, 30), (30, 26), (30, 38): mean (30, 31), spread 10 x 7.
  std::vector<float> kp(63, 0.0f);
  const float anchors[] = {-0.375f, -0.0625f, 0.25f, -0.0625f, -0.0625f, -0.1875f, -0.0625f, 0.1875f};
  std::memcpy(&kp[17 * 3], anchors, 2 * sizeof(float));
  std::memcpy(&kp[18 * 3], anchors + 2, 2 * sizeof(float));
  std::memcpy(&kp[19 * 3], anchors + 4, 2 * sizeof(float));
  std::memcpy(&kp[20 * 3], anchors + 6, 2 * sizeof(float));
  const double unit[] = {1, 0.5, -0.5, -1};
  const int32_t rows[] = {17, 18, 19, 20};
  LipContour c(kCanvas, 2.0f, unit, 2, rows, 4);
  std::vector<double> verts;
  c.polygon(kp.data(), verts);
  EXPECT_EQ(verts, (std::vector<double>{40, 34.5, 25, 24}));
  // Anchors on one point still scale the unit polygon, by the smallest spread.
  c.polygon(std::vector<float>(63, 0.0f).data(), verts);
  EXPECT_EQ(verts, (std::vector<double>{1e-6 * 1 + 32, 1e-6 * 0.5 + 32, 1e-6 * -0.5 + 32, 1e-6 * -1 + 32}));
  // With a map over rows 17 and 18 (mean (30, 30), offsets (-10, 0), (10, 0)): vertex 0 is
  // b + W d + mean, x = 0.5 + 0.5 * -10 + 30, y = -0.25 + 2 * 10 + 30.
  const double W[] = {0.5, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const double b[] = {0.5, -0.25, 0, 0};
  c.attachMap(W, b, 4, 4, rows, 2);
  c.polygon(kp.data(), verts);
  EXPECT_EQ(verts, (std::vector<double>{25.5, 49.75, 30, 30}));
}

TEST(LipContour, FeatherRunsOutwardFromTheFilledPolygon) {
  LipContour c = rectangle();
  const std::vector<float> kp = keypointsAt(32, 32);
  std::vector<double> verts;
  c.polygon(kp.data(), verts);
  ASSERT_EQ(verts, (std::vector<double>{27, 29, 37, 29, 37, 35, 27, 35}));
  const Box b = c.box(verts);  // reaches feather + 2 past the polygon, one more past its far side
  EXPECT_EQ(std::vector<int32_t>({b.x0, b.y0, b.x1, b.y1}), std::vector<int32_t>({21, 23, 44, 42}));
  std::vector<uint8_t> inside;
  c.fillScanline(verts, b, inside);
  const int width = b.x1 - b.x0;
  auto at = [&](int x, int y) { return size_t(y - b.y0) * size_t(width) + size_t(x - b.x0); };
  // Rows 29..34 (the lower edge's row is not crossed), columns 27..37 (both crossings included).
  int filled = 0;
  for (uint8_t v : inside) filled += v;
  EXPECT_EQ(filled, 11 * 6);
  EXPECT_EQ(inside[at(27, 29)] + inside[at(37, 34)], 2);
  EXPECT_EQ(inside[at(38, 31)] + inside[at(32, 35)] + inside[at(26, 29)], 0);
  std::vector<float> alpha(size_t(kCanvas) * kCanvas);
  c.contourF32Canvas(kp.data(), alpha.data());
  auto alphaAt = [&](int x, int y) { return alpha[size_t(y) * kCanvas + size_t(x)]; };
  float fourSteps = 0.0f;
  for (int i = 0; i < 4; ++i) fourSteps += 0.955f;
  EXPECT_EQ(alphaAt(32, 31), 1.0f);
  EXPECT_EQ(alphaAt(38, 31), smoothstep(1.0 - double(0.955f) / 4.0));  // one pixel outside
  EXPECT_EQ(alphaAt(32, 35), smoothstep(1.0 - double(0.955f) / 4.0));
  EXPECT_EQ(alphaAt(38, 28), smoothstep(1.0 - double(1.3693f) / 4.0));  // one diagonal step
  EXPECT_EQ(alphaAt(41, 31), smoothstep(1.0 - double(fourSteps) / 4.0));
  EXPECT_EQ(alphaAt(42, 31), 0.0f);  // past the feather
  // The box form holds the same values at the box's own coordinates.
  std::vector<float> boxed(size_t(width) * size_t(b.y1 - b.y0));
  c.contourF32(verts, b, boxed.data());
  for (int y = b.y0; y < b.y1; ++y)
    for (int x = b.x0; x < b.x1; ++x) ASSERT_EQ(boxed[at(x, y)], alphaAt(x, y)) << x << ", " << y;
}

TEST(LipContour, EmptyBoxGivesAnAllZeroMask) {
  LipContour c = rectangle();
  const std::vector<float> kp = keypointsAt(128, 32);  // the polygon lies right of the canvas
  std::vector<double> verts;
  c.polygon(kp.data(), verts);
  const Box b = c.box(verts);
  EXPECT_EQ(b.x1, b.x0);
  const size_t area = size_t(kCanvas) * kCanvas;
  std::vector<uint8_t> mask(area, 0x5a);
  c.deliveredU8(kp.data(), piGeometry(), mask.data());
  EXPECT_EQ(mask, std::vector<uint8_t>(area, 0));
  std::vector<float> alpha(area, 0.5f);
  c.contourF32Canvas(kp.data(), alpha.data());
  EXPECT_EQ(alpha, std::vector<float>(area, 0.0f));
  std::fill(mask.begin(), mask.end(), 255);
  EXPECT_FALSE(c.shrinkU8InPlace(kp.data(), {0, 0, kCanvas, kCanvas}, mask.data()));
  EXPECT_EQ(mask, std::vector<uint8_t>(area, 0));
}

TEST(LipContour, ShrinkingActsInsideTheGivenBoxOnly) {
  LipContour c = rectangle();
  const std::vector<float> kp = keypointsAt(32, 32);
  std::vector<uint8_t> mask(size_t(kCanvas) * kCanvas, 250);
  auto byteAt = [&](int x, int y) { return int(mask[size_t(y) * kCanvas + size_t(x)]); };
  EXPECT_TRUE(c.shrinkU8InPlace(kp.data(), {30, 20, kCanvas, kCanvas}, mask.data()));
  EXPECT_EQ(byteAt(32, 31), 250);  // inside the polygon: alpha 255 keeps the byte
  EXPECT_EQ(byteAt(38, 31), int(std::nearbyint(double(smoothstep(1.0 - double(0.955f) / 4.0)) * 255.0)));
  EXPECT_EQ(byteAt(50, 50), 0);    // outside the contour's box
  EXPECT_EQ(byteAt(25, 31), 250);  // left of the given box: untouched
  EXPECT_EQ(byteAt(40, 10), 250);  // above it
  // A box that misses the contour's box keeps nothing.
  EXPECT_FALSE(c.shrinkU8InPlace(kp.data(), {0, 0, 10, 10}, mask.data()));
  EXPECT_EQ(byteAt(5, 5), 0);
  EXPECT_EQ(byteAt(15, 5), 250);
}

TEST(LipContour, RefusesAPiMaskOfAnotherCanvas) {
  LipContour c = rectangle();
  const UnifiedPi other = UnifiedPi::fromManifestJson(
      R"({"unified": {"pi": {"mode": "prop", "prop_gate_scale": 1, "lip_idx": [14], "lip_geom_params": [0, 0, 0]}}})",
      32);
  std::vector<uint8_t> mask(size_t(kCanvas) * kCanvas);
  EXPECT_THROW(c.deliveredU8(keypointsAt(32, 32).data(), other, mask.data()), std::invalid_argument);
}

}  // namespace
