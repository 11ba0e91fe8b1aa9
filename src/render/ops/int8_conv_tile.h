// The tiles and strips of the int8 convolution on the CPU's 8-bit dot-product instructions. Each
// kernel computes exact integer sums (a tile exactly what le::simd::int8DotTile computes); the caller
// checks the CPU first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "simd/int8_dot.h"

namespace le {

// AVX512-VNNI (vpdpbusd on 512-bit registers): one register holds a whole block of output channels.
bool int8Avx512VnniAvailable();
void int8DotTileAvx512Vnni(const simd::Int8DotTile& tile);

// AVX-VNNI (the VEX form of vpdpbusd on 256-bit registers): two registers per block.
bool int8AvxVnniAvailable();
void int8DotTileAvxVnni(const simd::Int8DotTile& tile);

// Output pixels per register of a strip, and most output pixels of one strip.
constexpr int kInt8StripLanes = 16;
constexpr int kInt8StripPixels = 3 * kInt8StripLanes;

// A strip of consecutive output pixels of one row at horizontal stride 1, for one block of output
// channels. Lanes run over pixels: quad q of tap t holds the four channel bytes of input pixel x at
// in + tapOffsets[t] + q * quadStep + x * 4, so sixteen pixels are one 64-byte load. The kernel reads
// whole registers of sixteen pixels: up to 60 bytes past the strip's last pixel must be readable.
// acc receives [channels][accStride] sums for the first `channels` lanes of the weight block
// [taps][quads][kInt8DotBlock][kInt8DotDepth]; sums past `pixels` in a row are unspecified.
struct Int8RowStrip {
  const uint8_t* in = nullptr;
  const int64_t* tapOffsets = nullptr;
  int taps = 0;
  int quads = 0;
  size_t quadStep = 0;
  int pixels = 0;    // 1 to kInt8StripPixels
  int channels = 0;  // 1 to kInt8DotBlock
  const int8_t* weights = nullptr;
  int32_t* acc = nullptr;
  size_t accStride = 0;  // at least the pixels rounded up to sixteen
};

void int8RowStripAvx512Vnni(const Int8RowStrip& strip);

}  // namespace le
