#include "render/ops/int8_conv_rows.h"

#include <algorithm>

namespace le {

namespace {

using simd::kInt8DotBlock;
using simd::kInt8DotPixels;

// Writes the dequantised tile of block (g, b) to its channels' rows.
void store(const Int8RowJob& job, int64_t g, int64_t b, const float* tile, int64_t n, int64_t oy, int64_t ox,
           int pixels) {
  const Int8ConvShape& s = job.shape;
  const int64_t perGroup = s.M / s.group;
  const int64_t first = g * perGroup + b * kInt8DotBlock;
  const int64_t count = std::min<int64_t>(kInt8DotBlock, perGroup - b * kInt8DotBlock);
  for (int64_t o = 0; o < count; ++o) {
    float* out = job.Y + ((n * s.M + first + o) * s.Ho + oy) * s.Wo + ox;
    for (int p = 0; p < pixels; ++p) out[p] = tile[p * kInt8DotBlock + o];
  }
}

}  // namespace

void int8ConvRow(const Int8RowJob& job, int64_t n, int64_t oy) {
  const Int8ConvShape& s = job.shape;
  const Int8InputLayout& l = job.layout;
  const uint8_t* row = job.input + ((n * l.height + oy * s.strideH) * l.width) * l.pixelBytes;
  int32_t acc[kInt8DotPixels * kInt8DotBlock];
  float values[kInt8DotPixels * kInt8DotBlock];
  simd::Int8DotTile tile;
  tile.tapOffsets = job.tapOffsets.data();
  tile.taps = static_cast<int>(job.tapOffsets.size());
  tile.quads = static_cast<int>(job.weights->quads);
  tile.pixelStep = static_cast<size_t>(s.strideW * l.pixelBytes);
  tile.acc = acc;
  for (int64_t g = 0; g < s.group; ++g)
    for (int64_t b = 0; b < job.weights->blocks; ++b) {
      tile.weights = job.weights->block(g, b);
      const size_t lanes = static_cast<size_t>(g * job.weights->blocks + b) * kInt8DotBlock;
      for (int64_t ox = 0; ox < s.Wo; ox += kInt8DotPixels) {
        tile.pixels = static_cast<int>(std::min<int64_t>(kInt8DotPixels, s.Wo - ox));
        tile.in = row + ox * s.strideW * l.pixelBytes + g * l.groupBytes;
        job.kernel(tile);
        simd::int8Dequantise(acc, tile.pixels, job.correction.data() + lanes, job.outScale.data() + lanes,
                             job.bias.data() + lanes, values);
        store(job, g, b, values, n, oy, ox, tile.pixels);
      }
    }
}

}  // namespace le
