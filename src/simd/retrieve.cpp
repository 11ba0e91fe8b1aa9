// Dispatch of the retrieval-distance kernels.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/retrieve.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "simd/retrieve-inl.h"

#if HWY_ONCE
#include "simd/simd.h"

namespace le::simd {

HWY_EXPORT(RetrieveTermExactRange);
HWY_EXPORT(RetrieveTermExact);
HWY_EXPORT(RetrieveTermPooled);

float retrieveTermExactRange(const uint16_t* a, const uint16_t* b, const float* w, size_t stride,
                             size_t begin, size_t end) {
  return HWY_DYNAMIC_DISPATCH(RetrieveTermExactRange)(a, b, w, stride, begin, end);
}

float retrieveTermExact(const uint16_t* a, const uint16_t* b, const float* w, size_t n) {
  return HWY_DYNAMIC_DISPATCH(RetrieveTermExact)(a, b, w, n);
}

float retrieveTermPooled(const uint16_t* a, const uint16_t* b, const uint16_t* w, size_t n) {
  return HWY_DYNAMIC_DISPATCH(RetrieveTermPooled)(a, b, w, n);
}

}  // namespace le::simd
#endif  // HWY_ONCE
