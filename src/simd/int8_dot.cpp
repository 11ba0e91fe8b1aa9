// Dispatch of the portable int8 dot-product tile and of the dequantisations.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/int8_dot.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "simd/int8_dot-inl.h"

#if HWY_ONCE
#include "simd/int8_dot.h"

namespace le::simd {

HWY_EXPORT(Int8DotTileKernel);
HWY_EXPORT(Int8DequantiseKernel);
HWY_EXPORT(Int8DequantiseRowsKernel);

void int8DotTile(const Int8DotTile& tile) { HWY_DYNAMIC_DISPATCH(Int8DotTileKernel)(tile); }

void int8Dequantise(const int32_t* acc, int pixels, const int32_t* correction, const float* k, const float* bias,
                    float* out) {
  HWY_DYNAMIC_DISPATCH(Int8DequantiseKernel)(acc, pixels, correction, k, bias, out);
}

void int8DequantiseRows(const int32_t* acc, size_t accStride, int channels, size_t pixels, const int32_t* correction,
                        const float* k, const float* bias, float* out, size_t outStride) {
  HWY_DYNAMIC_DISPATCH(Int8DequantiseRowsKernel)(acc, accStride, channels, pixels, correction, k, bias, out, outStride);
}

}  // namespace le::simd
#endif  // HWY_ONCE
