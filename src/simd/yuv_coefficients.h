// The 16-bit constants of the vector YUV 4:2:0 row conversion (see yuv-inl.h for the arithmetic).
//
// They are defined in their own translation unit on purpose. When GCC sees them as constants it
// turns each vector multiply into a chain of shifts and adds and, short of vector registers,
// rebuilds the other constants inside the loop from general registers, three instructions each;
// the kernel then takes 40% longer. Values it has to load stay plain multiplies and operands.
#pragma once

#include <cstdint>

namespace le::simd {

struct YuvCoefficients {
  int16_t lumaFactor;   // 42: the part of 298 below the shift
  int16_t lumaOffset;   // 42 * -16 + 128 - 16 * 256: the luma and rounding offsets of every sum
  int16_t chromaZero;   // 128
  int16_t clampBias;    // 32512 = 32767 - 255
  int16_t redFromV;     // 153 = 409 - 256
  int16_t greenFromV;   // 48 = 256 - 208
  int16_t greenFromU;   // 100
  int16_t lowByte;      // 0x00FF
};

extern const YuvCoefficients kYuvCoefficients;

}  // namespace le::simd
