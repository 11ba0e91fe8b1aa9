// Dispatch of the YUV 4:2:0 row conversion kernel.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/yuv.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "simd/yuv-inl.h"

#if HWY_ONCE
#include "simd/simd.h"

namespace le::simd {

HWY_EXPORT(Yuv420RowToRgb24);

void yuv420RowToRgb24(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width,
                      int chromaStep, uint8_t* rgb) {
  HWY_DYNAMIC_DISPATCH(Yuv420RowToRgb24)(y, u, v, width, chromaStep, rgb);
}

}  // namespace le::simd
#endif  // HWY_ONCE
