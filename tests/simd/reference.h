// Plain scalar statements of what every kernel computes, written independently of the library.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace le::test {

// The bit pattern of a float and back, for comparisons that must see signed zeros and NaN payloads.
inline uint32_t bitsOf(float f) { return std::bit_cast<uint32_t>(f); }
inline float fromBits(uint32_t b) { return std::bit_cast<float>(b); }

float refF16ToF32(uint16_t h);
// Round to nearest even; NaN keeps its upper payload bits with the quiet bit set.
uint16_t refF32ToF16(float f);
float refRoundF16(float f);

float refRetrieveExactRange(const uint16_t* a, const uint16_t* b, const float* w, size_t stride,
                            size_t begin, size_t end);
float refRetrievePooled(const uint16_t* a, const uint16_t* b, const uint16_t* w, size_t n);

// Exact (double) convolution of one output pixel and the sum of the magnitudes of its terms.
struct ConvPixel {
  double value;
  double magnitude;
};
ConvPixel refConv3x3(const float* in, int cin, int height, int width, const float* weights,
                     const float* bias, int cout, int k, int y, int x);

void refBlurRow(const float* first, size_t stride, const float* kernel, int taps, float* out,
                size_t n);
void refSharpenRow(float* row, const float* blur, float amount, size_t n);

void refPasteRow(const float* crop4, int side, const uint8_t* mask, const float* lanczosTaps,
                 const float* bilinearTaps, const int* colU, const int* colV, int rowU, int rowV,
                 int x0, int x1, uint8_t* rowOut);

void refYuvRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int chromaStep,
               uint8_t* rgb);

// Curvature planes of a [3][height][width] source, per pixel, per channel: v, vxx, vyy, vxxyy.
std::vector<float> refWarpPlanes(const float* src, int width, int height);

// The warped [3][height][width] image for the [height][width][2] grid, from the planes.
std::vector<float> refWarpGather(const std::vector<float>& planes, const float* grid, int width, int height);

}  // namespace le::test
