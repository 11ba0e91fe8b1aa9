// Int8 convolution: the float input is quantised on the fly to unsigned 8 bits, multiplied with
// signed 8-bit weights in 32-bit integer sums, and dequantised per output channel:
//   y = (s * scale[m]) * (acc - z * weightSum) + bias[m]
// where s and z are the input's scale and zero point and weightSum covers the taps that were
// accumulated, so that taps outside the input act as zero padding of the float input.
#pragma once

#include <cstdint>
#include <vector>

#include "render/ops/int8_conv_pack.h"

namespace le {

// The convolution's attributes and the input's extent; Ho and Wo follow from them.
struct Int8ConvShape {
  int64_t N = 0, C = 0, H = 0, W = 0;  // input [N, C, H, W]
  int64_t M = 0, kH = 0, kW = 0;       // weights [M, C / group, kH, kW]
  int64_t group = 1;
  int64_t strideH = 1, strideW = 1;
  int64_t padTop = 0, padLeft = 0, padBottom = 0, padRight = 0;
  int64_t dilH = 1, dilW = 1;
  int64_t Ho = 0, Wo = 0;
};

// Output extent of one axis: (size + padBegin + padEnd - dilation * (kernel - 1) - 1) / stride + 1,
// or 0 when the dilated kernel does not fit into the padded input.
int64_t int8ConvOutputSize(int64_t size, int64_t padBegin, int64_t padEnd, int64_t kernel, int64_t dilation,
                           int64_t stride);

// Fills Ho and Wo from the rest of the shape.
void int8ConvDeriveOutput(Int8ConvShape& shape);

// Which dot-product code computes the sums. Auto takes the best the CPU has; the others force one
// path (tests and benchmarks compare them). Avx512Vnni runs rows of horizontal stride 1 as strips
// with lanes over pixels, other rows as tiles; the other paths run tiles only. Every path gives the
// same bits.
enum class Int8ConvPath { Auto, Avx512Vnni, AvxVnni, Portable };
void setInt8ConvPath(Int8ConvPath path);
Int8ConvPath int8ConvPath();
bool int8ConvPathAvailable(Int8ConvPath path);

// The input's quantisation: s = (max - min) / 255 (1 when not positive), z = rint(-min / s)
// clamped to 0..255, over a range that always contains 0.
struct Int8Quantisation {
  float scale = 1.f;
  int32_t zero = 0;
};
Int8Quantisation int8QuantisationOf(float lo, float hi);

// One forward pass over the whole batch. X is [N, C, H, W], Y [N, M, Ho, Wo]; weightScale and bias
// have M entries. Runs on the worker pool.
void int8ConvForward(const Int8ConvShape& shape, const Int8PackedWeights& weights, const float* X,
                     const float* weightScale, const float* bias, float* Y);

}  // namespace le
