// Tiles of an int8 convolution: unsigned 8-bit inputs times signed 8-bit weights summed in 32-bit
// integers, for a few output pixels of one row and one block of output channels. The layout is the
// one 8-bit dot-product instructions read: four input channels in each 32-bit lane.
#pragma once

#include <cstddef>
#include <cstdint>

namespace le::simd {

// Output channels of one packed weight block: one 32-bit lane each.
constexpr int kInt8DotBlock = 16;
// Input channels summed in one 32-bit lane: four bytes.
constexpr int kInt8DotDepth = 4;
// Most output pixels of one tile.
constexpr int kInt8DotPixels = 8;

// One tile. Input pixel p of tap t starts at in + p * pixelStep + tapOffsets[t] and holds
// quads * 4 channel bytes; the weights are [taps][quads][kInt8DotBlock][kInt8DotDepth]; acc
// receives [pixels][kInt8DotBlock] sums (overwritten, not added to).
struct Int8DotTile {
  const uint8_t* in = nullptr;
  const int64_t* tapOffsets = nullptr;
  int taps = 0;
  int quads = 0;
  size_t pixelStep = 0;
  int pixels = 0;
  const int8_t* weights = nullptr;
  int32_t* acc = nullptr;
};

// The portable form, on every instruction-set target (exact, so every target gives the same sums).
void int8DotTile(const Int8DotTile& tile);

// The dequantisation of one tile, lanes over its block of output channels:
// out[p][o] = k[o] * float(acc[p][o] - correction[o]) + bias[o], for p < pixels, o < kInt8DotBlock.
void int8Dequantise(const int32_t* acc, int pixels, const int32_t* correction, const float* k, const float* bias,
                    float* out);

// Widens [*lo, *hi] to cover the n values at x (NaN values are not seen).
void int8Range(const float* x, size_t n, float* lo, float* hi);

// out[i] = clamp(rint(x[i] / scale) + zero, 0, 255), rounding ties to even.
void int8Quantise(const float* x, size_t n, float scale, float zero, uint8_t* out);

}  // namespace le::simd
