// The lip contour per frame: the polygon from the anchor keypoints (the unit polygon scaled by
// their spread, or the anchor-linear map), its box, and the masks limited by its feathered alpha.
#include "tessera/lip_contour.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "tessera/lip_template_rules.h"

namespace le::tessera {

namespace {

// The polygon's spread never reaches zero, so a collapsed set of anchors still scales the unit
// polygon by a finite amount.
constexpr double kMinSpread = 1e-6;
// The box reaches this many pixels past the feather, so the feather's last pixels are inside it.
constexpr double kBoxMargin = 2.0;

// floor/ceil results as int32: saturated, NaN as 0 (keypoints at run time are never refused).
int32_t saturatedInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (v <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return int32_t(v);
}

// The byte of an alpha in [0, 1]: rounded to nearest, ties to even; 0 for alpha <= 0.
uint8_t alphaByte(float alpha) {
  if (!(alpha > 0.0f)) return 0;
  return uint8_t(std::nearbyint(std::min(double(alpha), 1.0) * 255.0));
}

bool isEmpty(const Box& b) { return b.x1 <= b.x0 || b.y1 <= b.y0; }

size_t canvasArea(int canvas) { return canvas > 0 ? size_t(canvas) * size_t(canvas) : 0; }

// Where the box's top-left pixel sits in a canvas-sized buffer.
float* atBoxOrigin(float* canvasBuffer, const Box& b, int canvas) {
  return canvasBuffer + size_t(b.y0) * size_t(canvas) + size_t(b.x0);
}

void checkCanvas(const UnifiedPi& pi, int canvas) {
  if (pi.canvas() != canvas)
    throw std::invalid_argument("LipContour: the pi mask's canvas " + std::to_string(pi.canvas()) +
                                " is not the contour's " + std::to_string(canvas));
}

}  // namespace

LipContour::LipContour(int canvas, float featherPx, const double* uCanon, int nv, const int32_t* lipIdx, int n)
    : canvas_(canvas), featherPx_(featherPx), nv_(nv) {
  if (nv < 1) throw lipTemplateError("carries no non-empty `u_canon` array");
  if (n < 1) throw lipTemplateError("carries a `lip_idx` that is not a non-empty array");
  for (int i = 0; i < n; ++i)
    if (!isKeypointRow(lipIdx[i])) throw lipRowError(std::to_string(lipIdx[i]));
  uCanon_.assign(uCanon, uCanon + 2 * size_t(nv));
  anchorIdx_.assign(lipIdx, lipIdx + n);
}

void LipContour::attachMap(const double* W, const double* b, int rows, int cols, const int32_t* lipIdx, int k) {
  if (rows != 2 * nv_ || k < 1 || k > kMaxMapAnchors || cols != 2 * k)
    throw lipTemplateError("lip_map shape does not match the template");
  for (int i = 0; i < k; ++i)
    if (!isKeypointRow(lipIdx[i])) throw lipMapRowError();
  mapW_.assign(W, W + size_t(rows) * size_t(cols));
  mapB_.assign(b, b + rows);
  mapCols_ = cols;
  anchorIdx_.assign(lipIdx, lipIdx + k);
}

void LipContour::polygon(const float* kp, std::vector<double>& verts) const {
  const double half = double(canvas_) * 0.5;
  auto pixel = [&](size_t anchor, int axis) { return (double(kp[anchorIdx_[anchor] * 3 + axis]) + 1.0) * half; };
  const size_t k = anchorIdx_.size();
  double mx = 0, my = 0;
  for (size_t j = 0; j < k; ++j) mx += pixel(j, 0), my += pixel(j, 1);
  mx /= double(k);
  my /= double(k);
  verts.resize(2 * size_t(nv_));
  if (hasMap()) {
    for (size_t i = 0; i < verts.size(); ++i) {
      const double* w = &mapW_[i * size_t(mapCols_)];
      double v = mapB_[i];
      for (size_t j = 0; j < k; ++j) {
        v += w[2 * j] * (pixel(j, 0) - mx);
        v += w[2 * j + 1] * (pixel(j, 1) - my);
      }
      verts[i] = v + (i % 2 == 0 ? mx : my);
    }
    return;
  }
  double sx = 0, sy = 0;
  for (size_t j = 0; j < k; ++j) {
    sx = std::max(sx, std::fabs(pixel(j, 0) - mx));
    sy = std::max(sy, std::fabs(pixel(j, 1) - my));
  }
  sx = std::max(sx, kMinSpread);
  sy = std::max(sy, kMinSpread);
  for (size_t v = 0; v < size_t(nv_); ++v) {
    verts[2 * v] = sx * uCanon_[2 * v] + mx;
    verts[2 * v + 1] = sy * uCanon_[2 * v + 1] + my;
  }
}

Box LipContour::box(const std::vector<double>& verts) const {
  if (verts.size() < 2) return {};
  double minX = verts[0], maxX = verts[0], minY = verts[1], maxY = verts[1];
  for (size_t i = 2; i + 1 < verts.size(); i += 2) {
    minX = std::min(minX, verts[i]), maxX = std::max(maxX, verts[i]);
    minY = std::min(minY, verts[i + 1]), maxY = std::max(maxY, verts[i + 1]);
  }
  const double reach = double(featherPx_) + kBoxMargin;
  Box b;
  b.x0 = std::max(saturatedInt32(std::floor(minX - reach)), 0);
  b.y0 = std::max(saturatedInt32(std::floor(minY - reach)), 0);
  b.x1 = std::min(saturatedInt32(std::ceil(maxX + reach) + 1.0), canvas_);
  b.y1 = std::min(saturatedInt32(std::ceil(maxY + reach) + 1.0), canvas_);
  b.x1 = std::max(b.x1, b.x0);
  b.y1 = std::max(b.y1, b.y0);
  return b;
}

void LipContour::contourF32Canvas(const float* kp, float* out) {
  std::fill(out, out + canvasArea(canvas_), 0.0f);
  std::vector<double> verts;
  polygon(kp, verts);
  const Box b = box(verts);
  if (!isEmpty(b)) alphaInto(verts, b, atBoxOrigin(out, b, canvas_), size_t(canvas_));
}

void LipContour::deliveredU8(const float* kp, const UnifiedPi& pi, uint8_t* out) {
  checkCanvas(pi, canvas_);
  std::fill(out, out + canvasArea(canvas_), uint8_t(0));
  std::vector<double> verts;
  polygon(kp, verts);
  const Box b = box(verts);
  if (isEmpty(b)) return;
  canvasScratch_.resize(canvasArea(canvas_));
  alphaInto(verts, b, atBoxOrigin(canvasScratch_.data(), b, canvas_), size_t(canvas_));
  pi.piU8ShrunkBy(kp, canvasScratch_.data(), b, out);
}

bool LipContour::shrinkU8InPlace(const float* kp, const Box& box, uint8_t* mask) {
  std::vector<double> verts;
  polygon(kp, verts);
  const Box c = this->box(verts);
  const int32_t width = c.x1 - c.x0;
  canvasScratch_.resize(size_t(width) * size_t(c.y1 - c.y0));
  if (!isEmpty(c)) contourF32(verts, c, canvasScratch_.data());
  bool kept = false;
  for (int32_t y = std::max(box.y0, 0); y < std::min(box.y1, canvas_); ++y)
    for (int32_t x = std::max(box.x0, 0); x < std::min(box.x1, canvas_); ++x) {
      uint8_t& byte = mask[size_t(y) * size_t(canvas_) + size_t(x)];
      const bool inContour = x >= c.x0 && x < c.x1 && y >= c.y0 && y < c.y1;
      const float alpha = inContour ? canvasScratch_[size_t(y - c.y0) * size_t(width) + size_t(x - c.x0)] : 0.0f;
      byte = std::min(byte, alphaByte(alpha));
      kept = kept || byte != 0;
    }
  return kept;
}

bool LipContour::deliveredU8AndShift(const float* kp, const UnifiedPi& pi, const float cCanon[2], uint8_t* out,
                                     int& rowShift, int& colShift) {
  checkCanvas(pi, canvas_);
  const bool shifted = pi.piU8AndShift(kp, cCanon, out, rowShift, colShift);
  shrinkU8InPlace(kp, pi.supportBox(kp), out);
  return shifted;
}

}  // namespace le::tessera
