// Scalar IEEE binary16 conversions for code outside the kernel set.
#pragma once

#include <cstddef>
#include <cstdint>

namespace le {

// Widens n halves exactly (signed zeros, subnormals, infinities and NaN payloads kept).
void halfToFloat(const uint16_t* src, float* dst, size_t n);

// Rounds one float to a half, to nearest with ties to even; magnitudes beyond the largest finite
// half become infinity of the same sign, and so does a NaN (stored halves are never NaN).
uint16_t f32ToF16(float value);

}  // namespace le
