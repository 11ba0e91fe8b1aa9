// Dispatch of the int8 convolution's range scan and quantisation.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/int8_quantise.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "simd/int8_quantise-inl.h"

#if HWY_ONCE
#include "simd/int8_dot.h"

namespace le::simd {

HWY_EXPORT(Int8RangeKernel);
HWY_EXPORT(Int8QuantiseQuadsKernel);

void int8Range(const float* x, size_t n, float* lo, float* hi) { HWY_DYNAMIC_DISPATCH(Int8RangeKernel)(x, n, lo, hi); }

void int8QuantiseQuads(const float* const* planes, int channels, size_t n, float scale, float zero, uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(Int8QuantiseQuadsKernel)(planes, channels, n, scale, zero, out);
}

}  // namespace le::simd
#endif  // HWY_ONCE
