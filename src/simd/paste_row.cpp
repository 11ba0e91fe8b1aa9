// Dispatch of the compositor's row kernels.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/paste_row.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "simd/paste_row-inl.h"

#if HWY_ONCE
#include "simd/simd.h"

namespace le::simd {

HWY_EXPORT(PasteBlurRow);
HWY_EXPORT(PasteSharpenRow);
HWY_EXPORT(PasteLanczos8Row);

void pasteBlurRow(const float* first, size_t stride, const float* kernel, int taps, float* out,
                  size_t n) {
  HWY_DYNAMIC_DISPATCH(PasteBlurRow)(first, stride, kernel, taps, out, n);
}

void pasteSharpenRow(float* row, const float* blur, float amount, size_t n) {
  HWY_DYNAMIC_DISPATCH(PasteSharpenRow)(row, blur, amount, n);
}

void pasteLanczos8Row(const float* crop4, int side, const uint8_t* mask, const float* lanczosTaps,
                      const float* bilinearTaps, const int* colU, const int* colV, int rowU,
                      int rowV, int x0, int x1, uint8_t* rowOut) {
  HWY_DYNAMIC_DISPATCH(PasteLanczos8Row)(crop4, side, mask, lanczosTaps, bilinearTaps, colU,
                                         colV, rowU, rowV, x0, x1, rowOut);
}

}  // namespace le::simd
#endif  // HWY_ONCE
