// The library's hand-vectorised inner loops. Each kernel is compiled for every x86 instruction-set
// target Highway offers; the first call of any kernel picks the best target the CPU runs, once per
// process, and every target yields the same bits (conv3x3Range aside: its accumulation order is
// free, so targets agree to float rounding). No kernel uses fused multiply-add.
#pragma once

#include <cstddef>
#include <cstdint>

namespace le::simd {

// Widens n IEEE binary16 values exactly (signed zeros, subnormals, infinities, NaN payloads).
void f16ToF32(const uint16_t* src, float* dst, size_t n);

// Rounds n floats to binary16, to nearest with ties to even; overflow gives infinity of the same
// sign, a NaN stays NaN with the quiet bit set and its upper mantissa bits kept.
void f32ToF16(const float* src, uint16_t* dst, size_t n);

// out[i] = h(a[i]) * b[i], where h rounds to binary16 and widens back.
void roundF16Mul(const float* a, const float* b, float* out, size_t n);

// n interleaved RGB pixels to three binary16 planes: dst[c * planeStride + i] = rgb[3i + c] / 255.
void rgb8ToPlanarF16(const uint8_t* rgb, uint16_t* dst, size_t planeStride, size_t n);

// Weighted mean absolute difference of two three-plane binary16 images in half-precision steps,
// summed over pixels [begin, end) in increasing order. Pixels of weight 0 contribute exactly 0.
float retrieveTermExactRange(const uint16_t* a, const uint16_t* b, const float* w, size_t stride,
                             size_t begin, size_t end);

// retrieveTermExactRange over [0, n) with plane stride n.
float retrieveTermExact(const uint16_t* a, const uint16_t* b, const float* w, size_t n);

// Like retrieveTermExact with binary16 weights; each term is rounded to binary16 and every pixel
// counts.
float retrieveTermPooled(const uint16_t* a, const uint16_t* b, const uint16_t* w, size_t n);

// 3x3 convolution, stride 1, zero padding 1, over the (image, output channel) pairs
// k in [begin, end) (image k / cout, channel k % cout). in [images][cin][height][width],
// weights [cout][cin][3][3], bias [cout], out [images][cout][height][width]; bias added last.
void conv3x3Range(const float* in, int images, int cin, int height, int width,
                  const float* weights, const float* bias, int cout, float* out, int begin,
                  int end);

// One row of a separable blur: out[x] = sum over i < taps of kernel[i] * first[i * stride + x] for
// x < n, each product rounded to f32 and added in increasing i from 0.
void pasteBlurRow(const float* first, size_t stride, const float* kernel, int taps, float* out,
                  size_t n);

// Unsharp step of one row: row[x] = clamp((1 + amount) * row[x] - amount * blur[x], 0, 255); a
// NaN becomes 0.
void pasteSharpenRow(float* row, const float* blur, float amount, size_t n);

// Blends destination pixels x0..x1 (inclusive) of one RGB24 row with the sharpened crop through
// 8x8 Lanczos resampling and the bilinear feather mask; source positions have 10 fractional bits.
// The Lanczos sums follow one fixed tree of additions on every target (paste_row-inl.h).
void pasteLanczos8Row(const float* crop4, int side, const uint8_t* mask, const float* lanczosTaps,
                      const float* bilinearTaps, const int* colU, const int* colV, int rowU,
                      int rowV, int x0, int x1, uint8_t* rowOut);

// One row of BT.601 limited-range 4:2:0 video to RGB24. chromaStep 1: planar u and v rows;
// chromaStep 2: interleaved UV row with v = u + 1.
void yuv420RowToRgb24(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width,
                      int chromaStep, uint8_t* rgb);

// Curvature planes of the director's warp for rows [row0, row1) of a [3][height][width] source:
// per pixel and channel the value v, vxx = (n(-1,0) - 2 v) + n(1,0), vyy likewise along y, and vxxyy
// the x second difference of the y second differences, with neighbours clamped to the image. planes
// points at row row0's planes (layout in simd/warp_planes.h).
void warpPlanesRows(const float* src, size_t width, size_t height, size_t row0, size_t row1,
                    float* planes);

// Output rows [row0, row1) of the warped [3][height][width] image for the [height][width][2] grid
// of normalised (x, y): the planes sampled bilinearly with border padding (align_corners = 0) as
// (s0, s1, s2, s3), then out = ((s0 - a s1) - b s2) + (a b) s3 with a = (1 - tx) tx / 2 and
// b = (1 - ty) ty / 2 from the fractional parts of the unclamped sample position. planes points at
// the planes of source row first and holds rows [first, end); rows outside it are read at its edge.
// Requires width and height below 2^24.
void warpGatherRows(const float* planes, size_t first, size_t end, const float* grid,
                    size_t width, size_t height, size_t row0, size_t row1, float* out);

// The first and last source rows that warpGatherRows reads for output rows [row0, row1).
void warpSourceRows(const float* grid, size_t width, size_t height, size_t row0, size_t row1,
                    size_t* first, size_t* last);

// The Highway target (a HWY_* bit) whose warp body serves on this CPU.
int64_t warpTarget();

// Name of the best target the CPU supports, from Highway's target names ("AVX2", "SSE4", ...).
// Informational: it never changes which kernel runs.
const char* target();

}  // namespace le::simd
