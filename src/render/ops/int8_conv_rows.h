// One output row of the int8 convolution: interior tiles on a dot-product kernel, border pixels on
// a scalar loop over the taps that fall inside the input, then the dequantisation.
#pragma once

#include <cstdint>
#include <vector>

#include "render/ops/int8_conv.h"
#include "render/ops/int8_conv_pack.h"
#include "render/ops/int8_conv_quantise.h"
#include "simd/int8_dot.h"

namespace le {

using Int8DotKernel = void (*)(const simd::Int8DotTile&);

// Output pixels whose every tap lies inside the input, along one axis: [first, last], empty when
// first > last.
struct Int8InteriorSpan {
  int64_t first = 0, last = -1;
};
Int8InteriorSpan int8InteriorSpan(int64_t size, int64_t padBegin, int64_t kernel, int64_t dilation, int64_t stride,
                                  int64_t outSize);

// Everything the rows of one forward pass share.
struct Int8RowJob {
  Int8ConvShape shape;
  const Int8PackedWeights* weights = nullptr;
  Int8InputLayout layout;
  Int8Quantisation quantisation;
  const uint8_t* input = nullptr;     // the quantised copy, [N][H][W][pixelBytes]
  std::vector<int64_t> tapOffsets;    // byte offset of tap (ky, kx) from the pixel of tap (0, 0)
  std::vector<float> outScale;        // s * scale[m]
  const float* bias = nullptr;
  Int8InteriorSpan rows, cols;
  Int8DotKernel kernel = nullptr;
  float* Y = nullptr;
};

// Output row oy of image n, every output channel.
void int8ConvRow(const Int8RowJob& job, int64_t n, int64_t oy);

}  // namespace le
