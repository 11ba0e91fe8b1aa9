#include "render/ops/warp_director.h"

#include <hwy/targets.h>

#include <algorithm>
#include <vector>

#include "simd/simd.h"
#include "simd/warp_planes.h"

namespace le {

namespace {

struct Rows {
  size_t first, end;
  bool empty() const { return first >= end; }
};

Rows clampRows(int64_t H, int64_t row0, int64_t row1) {
  const int64_t first = std::max<int64_t>(row0, 0), end = std::min(row1, H);
  return first < end ? Rows{size_t(first), size_t(end)} : Rows{0, 0};
}

}  // namespace

size_t warpPlanesFloats(int64_t W, int64_t H) { return size_t(W) * size_t(H) * simd::kWarpPixelFloats; }

void warpDirectorPlanesBand(const float* src, float* planes, int64_t W, int64_t H, int64_t row0,
                            int64_t row1) {
  const Rows rows = clampRows(H, row0, row1);
  if (rows.empty() || W <= 0) return;
  simd::warpPlanesRows(src, size_t(W), size_t(H), rows.first, rows.end,
                       planes + rows.first * size_t(W) * simd::kWarpPixelFloats);
}

void warpDirectorGatherBand(const float* planes, const float* grid, float* out, int64_t W,
                            int64_t H, int64_t row0, int64_t row1) {
  const Rows rows = clampRows(H, row0, row1);
  if (rows.empty() || W <= 0) return;
  simd::warpGatherRows(planes, 0, size_t(H), grid, size_t(W), size_t(H), rows.first, rows.end, out);
}

void warpDirectorBand(const float* src, const float* grid, float* out, int64_t W, int64_t H,
                      int64_t row0, int64_t row1) {
  const Rows rows = clampRows(H, row0, row1);
  if (rows.empty() || W <= 0) return;
  size_t first = 0, last = 0;
  simd::warpSourceRows(grid, size_t(W), size_t(H), rows.first, rows.end, &first, &last);
  std::vector<float> planes((last - first + 1) * size_t(W) * simd::kWarpPixelFloats);
  simd::warpPlanesRows(src, size_t(W), size_t(H), first, last + 1, planes.data());
  simd::warpGatherRows(planes.data(), first, last + 1, grid, size_t(W), size_t(H), rows.first,
                       rows.end, out);
}

void warpDirector(const float* src, const float* grid, float* out, int64_t W, int64_t H) {
  warpDirectorBand(src, grid, out, W, H, 0, H);
}

const char* warpBody() { return hwy::TargetName(simd::warpTarget()); }

}  // namespace le
