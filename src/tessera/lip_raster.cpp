// Rasterising the lip polygon inside its box: an even-odd scanline fill on whole-pixel vertices with
// edge crossings in 16.16 fixed point, a two-pass chamfer distance from the filled region, and a
// smoothstep feather that falls from 1 at the polygon's edge to 0 feather_px pixels outside it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "tessera/lip_contour.h"

namespace le::tessera {

namespace {

constexpr int64_t kFixedOne = int64_t(1) << 16;
// Rounded vertices are clamped to this many pixels either side of the box, far past any canvas,
// so that every 16.16 product below stays well inside int64.
constexpr double kCoordLimit = double(1 << 20);
// Chamfer steps: to an axial and to a diagonal neighbour.
constexpr float kAxialStep = 0.955f;
constexpr float kDiagonalStep = 1.3693f;
// The distance of an outside pixel no inside pixel reaches.
constexpr float kFar = 1e10f;

int64_t wholePixel(double v) {
  const double r = std::nearbyint(v);
  if (std::isnan(r)) return 0;
  return int64_t(std::clamp(r, -kCoordLimit, kCoordLimit));
}

// One polygon edge from its upper end (y0) down to, not including, its lower end (y1).
struct Edge {
  int64_t y0, y1, x0Fixed, stepFixed;
};

std::vector<Edge> edgesOf(const std::vector<double>& verts, const Box& box) {
  const size_t n = verts.size() / 2;
  std::vector<Edge> edges;
  for (size_t i = 0; i < n; ++i) {
    const size_t j = (i + 1) % n;
    int64_t xa = wholePixel(verts[2 * i] - box.x0), ya = wholePixel(verts[2 * i + 1] - box.y0);
    int64_t xb = wholePixel(verts[2 * j] - box.x0), yb = wholePixel(verts[2 * j + 1] - box.y0);
    if (ya == yb) continue;
    if (ya > yb) std::swap(xa, xb), std::swap(ya, yb);
    edges.push_back({ya, yb, xa * kFixedOne, (xb - xa) * kFixedOne / (yb - ya)});
  }
  return edges;
}

// Marks the pixels of one row between each pair of sorted crossings, ends included.
void fillRow(std::vector<int64_t>& crossings, int64_t width, uint8_t* row) {
  std::sort(crossings.begin(), crossings.end());
  for (size_t i = 0; i + 1 < crossings.size(); i += 2) {
    const int64_t first = std::max<int64_t>((crossings[i] + kFixedOne - 1) >> 16, 0);
    const int64_t last = std::min<int64_t>(crossings[i + 1] >> 16, width - 1);
    for (int64_t x = first; x <= last; ++x) row[x] = 1;
  }
}

void relax(float& d, float neighbour, float step) { d = std::min(d, neighbour + step); }

// Forward pass: each pixel from its left, upper-left, upper and upper-right neighbours.
void chamferForward(std::vector<float>& d, int width, int height) {
  for (int y = 0; y < height; ++y) {
    float* row = &d[size_t(y) * size_t(width)];
    const float* up = y > 0 ? row - width : nullptr;
    for (int x = 0; x < width; ++x) {
      if (x > 0) relax(row[x], row[x - 1], kAxialStep);
      if (!up) continue;
      relax(row[x], up[x], kAxialStep);
      if (x > 0) relax(row[x], up[x - 1], kDiagonalStep);
      if (x + 1 < width) relax(row[x], up[x + 1], kDiagonalStep);
    }
  }
}

// Backward pass: each pixel from its right, lower-right, lower and lower-left neighbours.
void chamferBackward(std::vector<float>& d, int width, int height) {
  for (int y = height - 1; y >= 0; --y) {
    float* row = &d[size_t(y) * size_t(width)];
    const float* down = y + 1 < height ? row + width : nullptr;
    for (int x = width - 1; x >= 0; --x) {
      if (x + 1 < width) relax(row[x], row[x + 1], kAxialStep);
      if (!down) continue;
      relax(row[x], down[x], kAxialStep);
      if (x + 1 < width) relax(row[x], down[x + 1], kDiagonalStep);
      if (x > 0) relax(row[x], down[x - 1], kDiagonalStep);
    }
  }
}

float featherAlpha(float distance, float featherPx) {
  const double t = 1.0 - double(distance) / double(featherPx);
  if (!(t > 0.0)) return 0.0f;
  const double s = std::min(t, 1.0);
  return float(s * s * (3.0 - 2.0 * s));
}

}  // namespace

void LipContour::fillScanline(const std::vector<double>& verts, const Box& box, std::vector<uint8_t>& inside) const {
  const int64_t width = std::max(box.x1 - box.x0, 0), height = std::max(box.y1 - box.y0, 0);
  inside.assign(size_t(width * height), 0);
  const std::vector<Edge> edges = edgesOf(verts, box);
  std::vector<int64_t> crossings;
  for (int64_t y = 0; y < height; ++y) {
    crossings.clear();
    for (const Edge& e : edges)
      if (y >= e.y0 && y < e.y1) crossings.push_back(e.x0Fixed + (y - e.y0) * e.stepFixed);
    fillRow(crossings, width, &inside[size_t(y * width)]);
  }
}

void LipContour::contourF32(const std::vector<double>& verts, const Box& box, float* out) {
  alphaInto(verts, box, out, size_t(std::max(box.x1 - box.x0, 0)));
}

void LipContour::alphaInto(const std::vector<double>& verts, const Box& box, float* out, size_t stride) {
  const int width = std::max(box.x1 - box.x0, 0), height = std::max(box.y1 - box.y0, 0);
  fillScanline(verts, box, inside_);
  distance_.resize(inside_.size());
  for (size_t i = 0; i < inside_.size(); ++i) distance_[i] = inside_[i] ? 0.0f : kFar;
  chamferForward(distance_, width, height);
  chamferBackward(distance_, width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      out[size_t(y) * stride + size_t(x)] = featherAlpha(distance_[size_t(y) * size_t(width) + size_t(x)], featherPx_);
}

}  // namespace le::tessera
