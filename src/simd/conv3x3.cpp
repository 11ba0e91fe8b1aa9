// Dispatch of the 3x3 convolution kernel.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/conv3x3.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "simd/conv3x3-inl.h"

#if HWY_ONCE
#include "simd/simd.h"

namespace le::simd {

HWY_EXPORT(Conv3x3Range);

void conv3x3Range(const float* in, int images, int cin, int height, int width,
                  const float* weights, const float* bias, int cout, float* out, int begin,
                  int end) {
  HWY_DYNAMIC_DISPATCH(Conv3x3Range)(in, images, cin, height, width, weights, bias, cout, out,
                                     begin, end);
}

}  // namespace le::simd
#endif  // HWY_ONCE
