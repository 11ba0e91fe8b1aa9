// The input side of the int8 convolution: the value range of the whole input and its quantised
// channels-last copy, both on the worker pool.
#pragma once

#include <cstddef>
#include <cstdint>

#include "render/ops/int8_conv.h"

namespace le {

// Min and max over count values, both starting from 0 so that the range always contains 0. Runs in
// parallel chunks when the pool splits the count into more than one part of 4096 values.
void int8InputRange(const float* X, size_t count, float* lo, float* hi);

// Quantised input laid out [N][H][W][pixelBytes]: channel c of group g at byte g * groupBytes + c
// within its group, where groupBytes = quads * 4 >= C / group; the bytes of the channels that
// round a group up to whole quads hold the zero point, so they read as 0.0.
struct Int8InputLayout {
  int64_t groupBytes = 0;
  int64_t pixelBytes = 0;
};
Int8InputLayout int8InputLayout(const Int8ConvShape& shape, int64_t quads);

// Writes the N * H * W * pixelBytes bytes of the quantised copy of X to out.
void int8QuantiseInput(const Int8ConvShape& shape, const Int8InputLayout& layout, const Int8Quantisation& q,
                       const float* X, uint8_t* out);

}  // namespace le
