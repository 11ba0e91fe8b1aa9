// The input side of the int8 convolution: the value range of the whole input, on the worker pool,
// and its quantised, zero-point-padded copy, a band of rows at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "render/ops/int8_conv.h"

namespace le {

// Min and max over the whole input, both starting from 0 so that the range always contains 0. The
// pool splits the scan over output rows as the convolution's row loop does: each part reads all
// channels of the input rows proportional to its output rows, which its thread then quantises while
// they are still in its cache.
void int8InputRange(const Int8ConvShape& shape, const float* X, float* lo, float* hi);

// The quantised copy of one image is [H + padTop + padBottom][group * quads][W + padLeft + padRight][4]: one
// row of four-byte pixel quads per quad of input channels, so that consecutive pixels of one quad are
// consecutive words. Input pixel (y, x) is padded pixel (y + padTop, x + padLeft); channel c of group
// g is byte c % 4 of quad g * quads + (c % (C / group)) / 4. Every byte that holds no input value (the
// pads and the channels that round a group up to whole quads) holds the zero point, i.e. 0.0. A band
// of rows ends with kInt8InputSlack spare bytes, so that kernels may read whole registers past its
// last pixel.
constexpr size_t kInt8InputSlack = 64;
struct Int8InputLayout {
  int64_t height = 0, width = 0;  // padded
  int64_t quadStep = 0;           // bytes per row of one quad: width * 4
  int64_t groupStep = 0;          // bytes from one group's quads to the next: quads * quadStep
  int64_t rowStep = 0;            // bytes per padded row: group * groupStep
  size_t bytes(int64_t rows) const { return static_cast<size_t>(rows * rowStep) + kInt8InputSlack; }
};
Int8InputLayout int8InputLayout(const Int8ConvShape& shape, int64_t quads);

// Quantises the band of padded rows [first, end) of image n into out (layout.bytes(end - first)
// bytes), on the calling thread.
void int8QuantiseRows(const Int8ConvShape& shape, const Int8InputLayout& layout, const Int8Quantisation& q,
                      const float* X, int64_t n, int64_t first, int64_t end, uint8_t* out);

}  // namespace le
