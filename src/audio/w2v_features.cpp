// Rounding of stored feature values to binary16 precision.
#include "audio/w2v_features.h"

#include <algorithm>

#include "simd/simd.h"

namespace le::w2v {

void roundToHalf(float* values, size_t n) {
  constexpr size_t kChunk = 1024;
  uint16_t halves[kChunk];
  for (size_t i = 0; i < n; i += kChunk) {
    const size_t m = std::min(kChunk, n - i);
    le::simd::f32ToF16(values + i, halves, m);
    le::simd::f16ToF32(halves, values + i, m);
  }
}

}  // namespace le::w2v
