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

// One tile. Quad q of input pixel p of tap t is the four channel bytes at
// in + tapOffsets[t] + p * pixelStep + q * quadStep; the weights are
// [taps][quads][kInt8DotBlock][kInt8DotDepth]; acc receives [pixels][kInt8DotBlock] sums
// (overwritten, not added to).
struct Int8DotTile {
  const uint8_t* in = nullptr;
  const int64_t* tapOffsets = nullptr;
  int taps = 0;
  int quads = 0;
  size_t pixelStep = 0;
  size_t quadStep = kInt8DotDepth;
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

// The dequantisation of rows of sums, lanes over pixels: for each of `channels` rows,
// out[o * outStride + i] = k[o] * float(acc[o * accStride + i] - correction[o]) + bias[o], i < pixels.
void int8DequantiseRows(const int32_t* acc, size_t accStride, int channels, size_t pixels, const int32_t* correction,
                        const float* k, const float* bias, float* out, size_t outStride);

// Widens [*lo, *hi] to cover the n values at x (NaN values are not seen).
void int8Range(const float* x, size_t n, float* lo, float* hi);

// Quantises up to four channel rows of n values into n four-byte quads: byte j of quad i is
// clamp(rint(planes[j][i] / scale) + zero, 0, 255), rounding ties to even, for j < channels, and
// the zero point for the bytes past `channels` (1 to 4).
void int8QuantiseQuads(const float* const* planes, int channels, size_t n, float scale, float zero, uint8_t* out);

}  // namespace le::simd
