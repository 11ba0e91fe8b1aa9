// The tiles of the int8 convolution on the CPU's 8-bit dot-product instructions. Each
// kernel computes exactly what le::simd::int8DotTile computes; the caller checks the CPU first.
#pragma once

#include "simd/int8_dot.h"

namespace le {

// AVX512-VNNI (vpdpbusd on 512-bit registers): one register holds a whole block of output channels.
bool int8Avx512VnniAvailable();
void int8DotTileAvx512Vnni(const simd::Int8DotTile& tile);

// AVX-VNNI (the VEX form of vpdpbusd on 256-bit registers): two registers per block.
bool int8AvxVnniAvailable();
void int8DotTileAvxVnni(const simd::Int8DotTile& tile);

}  // namespace le
