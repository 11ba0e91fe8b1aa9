// Retrieval: the live mouth at the frame's shift against every donor, coarsely through the pooled
// index, then exactly for the shortlist, and the frame's donor selection.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "pool/pool.h"
#include "simd/simd.h"
#include "tessera/teeth_dtable.h"
#include "tessera/teeth_pass_impl.h"
#include "tessera/teeth_pooling.h"
#include "tessera/teeth_selection.h"

namespace le::tessera {

namespace {

constexpr size_t kRowGrain = 8;

// The window with its top-left corner at canvas (y0, x0): RGB8 and pi bytes, 0 outside the canvas.
void copyWindow(const GeometryStamp& s, const uint8_t* canvasRgb, const uint8_t* canvasPi, int32_t y0, int32_t x0,
                LiveSide& live) {
  const size_t w = size_t(s.window_w), pixels = w * size_t(s.window_h);
  live.rgb.assign(pixels * 3, 0);
  live.pi.assign(pixels, 0);
  pool::parallelRange(size_t(s.window_h), kRowGrain, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      const int32_t y = y0 + int32_t(i);
      if (y < 0 || y >= s.canvas_h) continue;
      const int32_t first = std::max(0, -x0), last = std::min(s.window_w, s.canvas_w - x0);
      if (first >= last) continue;
      const size_t from = size_t(y) * s.canvas_w + size_t(x0 + first);
      std::copy_n(canvasRgb + from * 3, size_t(last - first) * 3, live.rgb.data() + (i * w + size_t(first)) * 3);
      std::copy_n(canvasPi + from, size_t(last - first), live.pi.data() + i * w + size_t(first));
    }
  });
}

bool insidePi(uint8_t pi) { return float(pi) / 255.f > 0.5f; }

}  // namespace

void TeethPass::Impl::prepareLive(const uint8_t* canvasRgb, const uint8_t* canvasPi, int32_t rowShift,
                                  int32_t colShift) {
  const size_t pixels = windowPixels();
  copyWindow(stamp, canvasRgb, canvasPi, stamp.window_y0 + rowShift, stamp.window_x0 + colShift, live);
  live.planes.resize(3 * pixels);
  live.mask.resize(pixels);
  double teeth = 0.0;
  for (size_t p = 0; p < pixels; ++p) {
    const double r = live.rgb[3 * p], g = live.rgb[3 * p + 1], b = live.rgb[3 * p + 2];
    for (size_t c = 0; c < 3; ++c) live.planes[c * pixels + p] = float(live.rgb[3 * p + c]) / 255.f;
    const double luma = 0.299 * r + 0.587 * g + 0.114 * b;
    const bool tooth = insidePi(live.pi[p]) && luma >= config.teeth_luma_floor &&
                       std::abs(g - r) < config.teeth_rg_tolerance;
    live.mask[p] = tooth ? 1.f : 0.f;
    teeth += live.mask[p];
  }
  // Too few teeth to match on: the whole mouth interior is matched instead.
  if (teeth < double(config.min_teeth_pixels))
    for (size_t p = 0; p < pixels; ++p) live.mask[p] = insidePi(live.pi[p]) ? 1.f : 0.f;
  carryAndMeasureMask();
  poolLive();
}

void TeethPass::Impl::carryAndMeasureMask() {
  const size_t pixels = windowPixels(), w = size_t(windowW);
  if (previousMaskValid)
    for (size_t p = 0; p < pixels; ++p)
      live.mask[p] = std::max(live.mask[p], float(config.mask_carry * previousMask[p]));
  previousMask = live.mask;
  previousMaskValid = true;
  double sum = 0.0;
  live.rowBegin = windowH;
  live.rowEnd = 0;
  live.colBegin.assign(size_t(windowH), windowW);
  live.colEnd.assign(size_t(windowH), 0);
  for (size_t p = 0; p < pixels; ++p) {
    sum += live.mask[p];
    if (live.mask[p] != 0.f) {
      const int32_t row = int32_t(p / w), col = int32_t(p % w);
      live.rowBegin = std::min(live.rowBegin, row);
      live.rowEnd = row + 1;
      live.colBegin[size_t(row)] = std::min(live.colBegin[size_t(row)], col);
      live.colEnd[size_t(row)] = col + 1;
    }
  }
  if (live.rowEnd == 0) live.rowBegin = 0, live.rowEnd = windowH;
  live.exactNorm = float(std::max(sum, 1.0));
}

void TeethPass::Impl::poolLive() {
  const size_t pooled = pooledPixels();
  std::vector<float> planes(3 * pooled), mask(pooled);
  averagePool(live.planes.data(), 3, windowH, windowW, kIndexPooling, planes.data());
  averagePool(live.mask.data(), 1, windowH, windowW, kIndexPooling, mask.data());
  live.pooledLive.resize(3 * pooled);
  live.pooledMask.resize(pooled);
  simd::f32ToF16(planes.data(), live.pooledLive.data(), 3 * pooled);
  simd::f32ToF16(mask.data(), live.pooledMask.data(), pooled);
  float norm = 0.f;
  for (float m : mask) norm += roundedToHalf(m);
  live.coarseNorm = std::max(norm, 1e-4f);
}

std::vector<float> TeethPass::Impl::coarseTerms() const {
  const size_t pooled = pooledPixels(), slot = 3 * pooled;
  std::vector<float> terms(static_cast<size_t>(nDonors));
  pool::parallelRange(size_t(nDonors), 1, [&](size_t begin, size_t end) {
    for (size_t d = begin; d < end; ++d) {
      const float term = simd::retrieveTermPooled(index.data() + d * slot, live.pooledLive.data(),
                                                  live.pooledMask.data(), pooled);
      terms[d] = roundedToHalf(term) / live.coarseNorm;
    }
  });
  return terms;
}

float TeethPass::Impl::exactTerm(int32_t donor, ExactScratch& scratch) const {
  const size_t w = size_t(windowW);
  scratch.donorRow.resize(3 * w);
  scratch.distance.resize(w);
  scratch.product.resize(w);
  const Placement canonical = placement(donor, 0, 0);
  float sum = 0.f;
  // Only pixels of non-zero mask add to the sum: each row is taken from its first such column to
  // its last.
  for (int32_t i = live.rowBegin; i < live.rowEnd; ++i) {
    const size_t first = size_t(live.colBegin[size_t(i)]), last = size_t(live.colEnd[size_t(i)]);
    if (first >= last) continue;
    placedRowRgb8(donor, canonical, i, scratch.donorRow.data());
    const size_t at = size_t(i) * w + first;
    sum = addExactRow(sum, live.rgb.data() + at * 3, scratch.donorRow.data() + first * 3, live.mask.data() + at,
                      last - first, scratch.distance.data(), scratch.product.data());
  }
  return sum / live.exactNorm;
}

std::vector<int32_t> TeethPass::Impl::retrieve(const uint8_t* canvasRgb, const uint8_t* canvasPi, int32_t rowShift,
                                               int32_t colShift) {
  prepareLive(canvasRgb, canvasPi, rowShift, colShift);
  const std::vector<float> coarse = coarseTerms();
  std::vector<int32_t> order(static_cast<size_t>(nDonors));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int32_t a, int32_t b) { return coarse[size_t(a)] < coarse[size_t(b)]; });
  order.resize(std::min(size_t(config.kshort), order.size()));
  std::vector<float> exact(order.size());
  pool::parallelRange(order.size(), 1, [&](size_t begin, size_t end) {
    ExactScratch scratch;
    for (size_t i = begin; i < end; ++i) exact[i] = exactTerm(order[i], scratch);
  });
  return retrieveSelect(order, exact, aperture, config);
}

}  // namespace le::tessera
