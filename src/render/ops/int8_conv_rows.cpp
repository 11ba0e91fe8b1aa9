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

// Pixel-major tiles: sums for a few pixels times a block of channels, spread into the channels' rows.
void tileRow(const Int8RowJob& job, const uint8_t* row, int64_t n, int64_t oy) {
  const Int8ConvShape& s = job.shape;
  const Int8InputLayout& l = job.layout;
  int32_t acc[kInt8DotPixels * kInt8DotBlock];
  float values[kInt8DotPixels * kInt8DotBlock];
  simd::Int8DotTile tile;
  tile.tapOffsets = job.tapOffsets.data();
  tile.taps = static_cast<int>(job.tapOffsets.size());
  tile.quads = static_cast<int>(job.weights->quads);
  tile.pixelStep = static_cast<size_t>(s.strideW * simd::kInt8DotDepth);
  tile.quadStep = static_cast<size_t>(l.quadStep);
  tile.acc = acc;
  for (int64_t g = 0; g < s.group; ++g)
    for (int64_t b = 0; b < job.weights->blocks; ++b) {
      tile.weights = job.weights->block(g, b);
      const size_t lanes = static_cast<size_t>(g * job.weights->blocks + b) * kInt8DotBlock;
      for (int64_t ox = 0; ox < s.Wo; ox += kInt8DotPixels) {
        tile.pixels = static_cast<int>(std::min<int64_t>(kInt8DotPixels, s.Wo - ox));
        tile.in = row + ox * tile.pixelStep + g * l.groupStep;
        job.kernel(tile);
        simd::int8Dequantise(acc, tile.pixels, job.correction.data() + lanes, job.outScale.data() + lanes,
                             job.bias.data() + lanes, values);
        store(job, g, b, values, n, oy, ox, tile.pixels);
      }
    }
}

// The width of the next strip when `pixels` remain: the registers of sixteen pixels they need,
// shared as evenly as whole strips allow, since strips of one register reuse each broadcast weight the
// least.
int64_t stripPixels(int64_t pixels) {
  constexpr int64_t kLanes = kInt8StripLanes, kMost = kInt8StripPixels / kInt8StripLanes;
  const int64_t registers = (pixels + kLanes - 1) / kLanes, strips = (registers + kMost - 1) / kMost;
  return (registers + strips - 1) / strips * kLanes;
}

// Channel-major strips: each channel's sums are a run of its output row, dequantised in place.
void stripRow(const Int8RowJob& job, const uint8_t* row, int64_t n, int64_t oy) {
  const Int8ConvShape& s = job.shape;
  const Int8InputLayout& l = job.layout;
  const int64_t perGroup = s.M / s.group;
  int32_t acc[kInt8DotBlock * kInt8StripPixels];
  Int8RowStrip strip;
  strip.tapOffsets = job.tapOffsets.data();
  strip.taps = static_cast<int>(job.tapOffsets.size());
  strip.quads = static_cast<int>(job.weights->quads);
  strip.quadStep = static_cast<size_t>(l.quadStep);
  strip.acc = acc;
  strip.accStride = kInt8StripPixels;
  for (int64_t g = 0; g < s.group; ++g)
    for (int64_t b = 0; b < job.weights->blocks; ++b) {
      strip.weights = job.weights->block(g, b);
      strip.channels = static_cast<int>(std::min<int64_t>(kInt8DotBlock, perGroup - b * kInt8DotBlock));
      const size_t lanes = static_cast<size_t>(g * job.weights->blocks + b) * kInt8DotBlock;
      float* out = job.Y + ((n * s.M + g * perGroup + b * kInt8DotBlock) * s.Ho + oy) * s.Wo;
      for (int64_t ox = 0; ox < s.Wo; ox += strip.pixels) {
        strip.pixels = static_cast<int>(std::min(stripPixels(s.Wo - ox), s.Wo - ox));
        strip.in = row + g * l.groupStep + ox * simd::kInt8DotDepth;
        job.strip(strip);
        simd::int8DequantiseRows(acc, kInt8StripPixels, strip.channels, static_cast<size_t>(strip.pixels),
                                 job.correction.data() + lanes, job.outScale.data() + lanes, job.bias.data() + lanes,
                                 out + ox, static_cast<size_t>(s.Ho * s.Wo));
      }
    }
}

}  // namespace

void int8ConvRow(const Int8RowJob& job, const uint8_t* input, int64_t n, int64_t oy) {
  if (job.strip)
    stripRow(job, input, n, oy);
  else
    tileRow(job, input, n, oy);
}

}  // namespace le
