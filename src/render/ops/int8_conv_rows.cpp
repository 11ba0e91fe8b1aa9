#include "render/ops/int8_conv_rows.h"

#include <algorithm>

namespace le {

namespace {

using simd::kInt8DotBlock;
using simd::kInt8DotPixels;

// The sums of a tile run over every tap, those in the pads included. A pad byte holds the zero point
// z, so the pads add exactly z times their weights, and subtracting z times the whole weight sum
// leaves the sum of (q - z) * w over the taps inside the input: the pads act as zero padding of the
// float input, and the result is the one a sum over the inside taps with their own weight sum gives.
void dequantise(const Int8RowJob& job, int64_t g, int64_t b, const int32_t* acc, int64_t n, int64_t oy, int64_t ox,
                int pixels) {
  const Int8ConvShape& s = job.shape;
  const int64_t perGroup = s.M / s.group;
  const int64_t first = g * perGroup + b * kInt8DotBlock;
  const int64_t count = std::min<int64_t>(kInt8DotBlock, perGroup - b * kInt8DotBlock);
  for (int64_t o = 0; o < count; ++o) {
    const size_t m = static_cast<size_t>(first + o);
    const int32_t correction = job.quantisation.zero * job.weights->weightSum[m];
    const float k = job.outScale[m], bias = job.bias[m];
    float* out = job.Y + ((n * s.M + first + o) * s.Ho + oy) * s.Wo + ox;
    for (int p = 0; p < pixels; ++p) out[p] = k * static_cast<float>(acc[p * kInt8DotBlock + o] - correction) + bias;
  }
}

}  // namespace

void int8ConvRow(const Int8RowJob& job, int64_t n, int64_t oy) {
  const Int8ConvShape& s = job.shape;
  const Int8InputLayout& l = job.layout;
  const uint8_t* row = job.input + ((n * l.height + oy * s.strideH) * l.width) * l.pixelBytes;
  int32_t acc[kInt8DotPixels * kInt8DotBlock];
  simd::Int8DotTile tile;
  tile.tapOffsets = job.tapOffsets.data();
  tile.taps = static_cast<int>(job.tapOffsets.size());
  tile.quads = static_cast<int>(job.weights->quads);
  tile.pixelStep = static_cast<size_t>(s.strideW * l.pixelBytes);
  tile.acc = acc;
  for (int64_t g = 0; g < s.group; ++g)
    for (int64_t b = 0; b < job.weights->blocks; ++b) {
      tile.weights = job.weights->block(g, b);
      for (int64_t ox = 0; ox < s.Wo; ox += kInt8DotPixels) {
        tile.pixels = static_cast<int>(std::min<int64_t>(kInt8DotPixels, s.Wo - ox));
        tile.in = row + ox * s.strideW * l.pixelBytes + g * l.groupBytes;
        job.kernel(tile);
        dequantise(job, g, b, acc, n, oy, ox, tile.pixels);
      }
    }
}

}  // namespace le
