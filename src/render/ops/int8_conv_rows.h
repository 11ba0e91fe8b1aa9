// One output row of the int8 convolution: tiles or strips of output pixels on a dot-product kernel,
// then the dequantisation.
#pragma once

#include <cstdint>
#include <vector>

#include "render/ops/int8_conv.h"
#include "render/ops/int8_conv_pack.h"
#include "render/ops/int8_conv_quantise.h"
#include "render/ops/int8_conv_tile.h"
#include "simd/int8_dot.h"

namespace le {

using Int8DotKernel = void (*)(const simd::Int8DotTile&);
using Int8StripKernel = void (*)(const Int8RowStrip&);

// Everything the rows of one forward pass share.
struct Int8RowJob {
  Int8ConvShape shape;
  const Int8PackedWeights* weights = nullptr;
  Int8InputLayout layout;
  Int8Quantisation quantisation;
  std::vector<int64_t> tapOffsets;  // byte offset of tap (ky, kx) from the padded pixel of tap (0, 0)
  // Per block of output channels (group-major, kInt8DotBlock entries each, zero past the group's
  // channels): z * weightSum[m], s * scale[m] and bias[m].
  std::vector<int32_t> correction;
  std::vector<float> outScale, bias;
  Int8DotKernel kernel = nullptr;
  Int8StripKernel strip = nullptr;  // set when the CPU has one and the horizontal stride is 1
  float* Y = nullptr;
};

// Output row oy of image n, every output channel, from the quantised padded row `input` that holds
// its taps (0, kx): on the strip kernel when the job has one, else on the tile kernel.
void int8ConvRow(const Int8RowJob& job, const uint8_t* input, int64_t n, int64_t oy);

}  // namespace le
