#include "simd/half.h"

#include <cstring>

namespace le {
namespace {

float widen(uint16_t h) {
  const uint32_t sign = static_cast<uint32_t>(h & 0x8000u) << 16;
  const uint32_t exponent = (h >> 10) & 0x1Fu;
  const uint32_t mantissa = h & 0x3FFu;
  uint32_t bits;
  if (exponent == 0x1Fu) {
    bits = sign | 0x7F800000u | (mantissa << 13);
  } else if (exponent != 0) {
    bits = sign | ((exponent + 112u) << 23) | (mantissa << 13);
  } else {
    // Subnormal or zero: mantissa * 2^-24 is exact in float.
    const float magnitude = static_cast<float>(mantissa) * 0x1p-24f;
    std::memcpy(&bits, &magnitude, 4);
    bits |= sign;
  }
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

}  // namespace

void halfToFloat(const uint16_t* src, float* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = widen(src[i]);
}

uint16_t f32ToF16(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
  uint32_t magnitude = bits & 0x7FFFFFFFu;
  if (magnitude >= 0x47800000u) return sign | 0x7C00u;  // >= 65536, infinity or NaN
  if (magnitude < 0x38800000u) {
    // Below the smallest normal half (2^-14): adding 0.5 leaves the half's subnormal count in
    // the low mantissa bits, rounded to nearest even by the float addition itself.
    float f;
    std::memcpy(&f, &magnitude, 4);
    f += 0.5f;
    std::memcpy(&magnitude, &f, 4);
    return sign | static_cast<uint16_t>(magnitude - 0x3F000000u);
  }
  // Rebias the exponent and round the 13 dropped mantissa bits to nearest even; a carry out of
  // the mantissa correctly bumps the exponent, up to infinity for 65520 and above.
  const uint32_t odd = (magnitude >> 13) & 1u;
  magnitude += 0xC8000FFFu + odd;  // (15 - 127) << 23 plus the rounding bias, modulo 2^32
  return sign | static_cast<uint16_t>(magnitude >> 13);
}

}  // namespace le
