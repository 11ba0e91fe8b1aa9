// Dispatch of the director's warp kernels.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/warp.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "simd/warp-inl.h"

#if HWY_ONCE
#include "simd/simd.h"

namespace le::simd {

HWY_EXPORT(WarpPlanesRows);
HWY_EXPORT(WarpGatherRows);
HWY_EXPORT(WarpSourceRows);
HWY_EXPORT(WarpTarget);

void warpPlanesRows(const float* src, size_t width, size_t height, size_t row0, size_t row1,
                    float* planes) {
  HWY_DYNAMIC_DISPATCH(WarpPlanesRows)(src, width, height, row0, row1, planes);
}

void warpGatherRows(const float* planes, size_t first, size_t end, const float* grid,
                    size_t width, size_t height, size_t row0, size_t row1, float* out) {
  HWY_DYNAMIC_DISPATCH(WarpGatherRows)(planes, first, end, grid, width, height, row0, row1, out);
}

void warpSourceRows(const float* grid, size_t width, size_t height, size_t row0, size_t row1,
                    size_t* first, size_t* last) {
  HWY_DYNAMIC_DISPATCH(WarpSourceRows)(grid, width, height, row0, row1, first, last);
}

int64_t warpTarget() { return HWY_DYNAMIC_DISPATCH(WarpTarget)(); }

}  // namespace le::simd
#endif  // HWY_ONCE
