#include "render/ops/int8_conv_rows.h"

#include <algorithm>

namespace le {

namespace {

using simd::kInt8DotBlock;
using simd::kInt8DotPixels;

// Block b of group g: its first output channel and how many of its lanes are real channels.
struct BlockChannels {
  int64_t first = 0, count = 0;
};

BlockChannels blockChannels(const Int8RowJob& job, int64_t g, int64_t b) {
  const int64_t perGroup = job.shape.M / job.shape.group;
  return {g * perGroup + b * kInt8DotBlock, std::min<int64_t>(kInt8DotBlock, perGroup - b * kInt8DotBlock)};
}

void dequantise(const Int8RowJob& job, BlockChannels ch, const int32_t* acc, bool corrected, int64_t n, int64_t oy,
                int64_t ox, int pixels) {
  const Int8ConvShape& s = job.shape;
  const int32_t zero = job.quantisation.zero;
  for (int64_t o = 0; o < ch.count; ++o) {
    const int64_t m = ch.first + o;
    const int32_t correction = corrected ? 0 : zero * job.weights->weightSum[static_cast<size_t>(m)];
    const float k = job.outScale[static_cast<size_t>(m)], b = job.bias[m];
    float* out = job.Y + ((n * s.M + m) * s.Ho + oy) * s.Wo + ox;
    for (int p = 0; p < pixels; ++p) out[p] = k * static_cast<float>(acc[p * kInt8DotBlock + o] - correction) + b;
  }
}

// Sums (q - z) * w over the taps of output pixel (oy, ox) that fall inside the input: the zero point
// comes off every accumulated tap and nothing is added for the others.
void borderPixel(const Int8RowJob& job, int64_t g, int64_t b, const uint8_t* image, int64_t oy, int64_t ox,
                 int32_t* acc) {
  const Int8ConvShape& s = job.shape;
  const Int8PackedWeights& w = *job.weights;
  std::fill(acc, acc + kInt8DotBlock, 0);
  for (int64_t ky = 0; ky < s.kH; ++ky) {
    const int64_t iy = oy * s.strideH - s.padTop + ky * s.dilH;
    if (iy < 0 || iy >= s.H) continue;
    for (int64_t kx = 0; kx < s.kW; ++kx) {
      const int64_t ix = ox * s.strideW - s.padLeft + kx * s.dilW;
      if (ix < 0 || ix >= s.W) continue;
      const uint8_t* q = image + (iy * s.W + ix) * job.layout.pixelBytes + g * job.layout.groupBytes;
      const int64_t t = ky * s.kW + kx;
      for (int64_t c = 0; c < w.Cg; ++c) {
        const int32_t centred = int32_t(q[c]) - job.quantisation.zero;
        for (int64_t o = 0; o < kInt8DotBlock; ++o) acc[o] += centred * w.at(g, b, o, c, t);
      }
    }
  }
}

void borderSpan(const Int8RowJob& job, int64_t g, int64_t b, const uint8_t* image, int64_t n, int64_t oy,
                int64_t from, int64_t to) {
  int32_t acc[kInt8DotBlock];
  for (int64_t ox = from; ox < to; ++ox) {
    borderPixel(job, g, b, image, oy, ox, acc);
    dequantise(job, blockChannels(job, g, b), acc, true, n, oy, ox, 1);
  }
}

void interiorSpan(const Int8RowJob& job, int64_t g, int64_t b, const uint8_t* image, int64_t n, int64_t oy) {
  const Int8ConvShape& s = job.shape;
  int32_t acc[kInt8DotPixels * kInt8DotBlock];
  simd::Int8DotTile tile;
  tile.tapOffsets = job.tapOffsets.data();
  tile.taps = static_cast<int>(job.tapOffsets.size());
  tile.quads = static_cast<int>(job.weights->quads);
  tile.pixelStep = static_cast<size_t>(s.strideW * job.layout.pixelBytes);
  tile.weights = job.weights->block(g, b);
  tile.acc = acc;
  const int64_t iy = oy * s.strideH - s.padTop;
  for (int64_t ox = job.cols.first; ox <= job.cols.last; ox += kInt8DotPixels) {
    tile.pixels = static_cast<int>(std::min<int64_t>(kInt8DotPixels, job.cols.last + 1 - ox));
    tile.in = image + (iy * s.W + ox * s.strideW - s.padLeft) * job.layout.pixelBytes + g * job.layout.groupBytes;
    job.kernel(tile);
    dequantise(job, blockChannels(job, g, b), acc, false, n, oy, ox, tile.pixels);
  }
}

}  // namespace

Int8InteriorSpan int8InteriorSpan(int64_t size, int64_t padBegin, int64_t kernel, int64_t dilation, int64_t stride,
                                  int64_t outSize) {
  const int64_t reach = size - 1 + padBegin - dilation * (kernel - 1);
  if (reach < 0) return {};
  return {(padBegin + stride - 1) / stride, std::min(reach / stride, outSize - 1)};
}

void int8ConvRow(const Int8RowJob& job, int64_t n, int64_t oy) {
  const Int8ConvShape& s = job.shape;
  const uint8_t* image = job.input + n * s.H * s.W * job.layout.pixelBytes;
  const bool interiorRow = oy >= job.rows.first && oy <= job.rows.last && job.cols.first <= job.cols.last;
  for (int64_t g = 0; g < s.group; ++g)
    for (int64_t b = 0; b < job.weights->blocks; ++b) {
      if (!interiorRow) {
        borderSpan(job, g, b, image, n, oy, 0, s.Wo);
        continue;
      }
      borderSpan(job, g, b, image, n, oy, 0, job.cols.first);
      interiorSpan(job, g, b, image, n, oy);
      borderSpan(job, g, b, image, n, oy, job.cols.last + 1, s.Wo);
    }
}

}  // namespace le
