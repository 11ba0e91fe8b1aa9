#include "render/ops/int8_conv.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "pool/pool.h"
#include "render/ops/int8_conv_quantise.h"
#include "render/ops/int8_conv_rows.h"
#include "render/ops/int8_conv_tile.h"

namespace le {

namespace {

std::atomic<Int8ConvPath> g_path{Int8ConvPath::Auto};

// The tile kernel for the chosen path; a forced path the CPU lacks falls back to the portable one.
Int8DotKernel tileKernel() {
  switch (int8ConvPath()) {
    case Int8ConvPath::Avx512Vnni:
      return int8Avx512VnniAvailable() ? &int8DotTileAvx512Vnni : &simd::int8DotTile;
    case Int8ConvPath::AvxVnni:
      return int8AvxVnniAvailable() ? &int8DotTileAvxVnni : &simd::int8DotTile;
    case Int8ConvPath::Portable:
      return &simd::int8DotTile;
    case Int8ConvPath::Auto:
      break;
  }
  if (int8Avx512VnniAvailable()) return &int8DotTileAvx512Vnni;
  if (int8AvxVnniAvailable()) return &int8DotTileAvxVnni;
  return &simd::int8DotTile;
}

// The strip kernel for the chosen path, or none: the other paths run tiles only.
Int8StripKernel stripKernel() {
  const Int8ConvPath path = int8ConvPath();
  const bool wanted = path == Int8ConvPath::Auto || path == Int8ConvPath::Avx512Vnni;
  return wanted && int8Avx512VnniAvailable() ? &int8RowStripAvx512Vnni : nullptr;
}

// The quantised band of the calling thread, kept between calls so that a session's steady frames
// allocate nothing.
std::vector<uint8_t>& bandScratch(size_t bytes) {
  thread_local std::vector<uint8_t> scratch;
  if (scratch.size() < bytes) scratch.resize(bytes);
  return scratch;
}

// Output rows [begin, end) of the batch (image-major): per image, the band of padded input rows their
// taps reach is quantised on this thread, then convolved while it is still in cache. Bands of
// neighbouring parts share their edge rows, which each part quantises for itself.
void convolveRows(const Int8RowJob& job, const float* X, int64_t begin, int64_t end) {
  const Int8ConvShape& s = job.shape;
  while (begin < end) {
    const int64_t n = begin / s.Ho, oyBegin = begin % s.Ho, oyEnd = std::min(s.Ho, oyBegin + end - begin);
    const int64_t first = oyBegin * s.strideH, last = (oyEnd - 1) * s.strideH + (s.kH - 1) * s.dilH + 1;
    uint8_t* band = bandScratch(job.layout.bytes(last - first)).data();
    int8QuantiseRows(s, job.layout, job.quantisation, X, n, first, last, band);
    for (int64_t oy = oyBegin; oy < oyEnd; ++oy)
      int8ConvRow(job, band + (oy * s.strideH - first) * job.layout.rowStep, n, oy);
    begin += oyEnd - oyBegin;
  }
}

// The job of the calling thread's current call, which the pool's workers read through a reference.
Int8RowJob& callJob() {
  thread_local Int8RowJob job;
  return job;
}

// Fills the job of one call in place: its vectors keep their capacity, so steady calls allocate
// nothing.
void fillRowJob(Int8RowJob& job, const Int8ConvShape& s, const Int8PackedWeights& weights, const Int8Quantisation& q,
                const float* weightScale, const float* bias, float* Y) {
  job.shape = s;
  job.weights = &weights;
  job.layout = int8InputLayout(s, weights.quads);
  job.quantisation = q;
  job.tapOffsets.clear();
  for (int64_t ky = 0; ky < s.kH; ++ky)
    for (int64_t kx = 0; kx < s.kW; ++kx)
      job.tapOffsets.push_back(ky * s.dilH * job.layout.rowStep + kx * s.dilW * simd::kInt8DotDepth);
  const size_t lanes = static_cast<size_t>(s.group * weights.blocks) * simd::kInt8DotBlock;
  job.correction.assign(lanes, 0);
  job.outScale.assign(lanes, 0.f);
  job.bias.assign(lanes, 0.f);
  const int64_t perGroup = s.M / s.group;
  for (int64_t m = 0; m < s.M; ++m) {
    // Lane of channel m: its group's blocks, then its place within them.
    const size_t lane = static_cast<size_t>(m / perGroup * weights.blocks * simd::kInt8DotBlock + m % perGroup);
    // The tiles sum over every tap, pads included (they hold the zero point): subtracting z times the
    // whole weight sum leaves the sum of (q - z) * w over the taps inside the input, so the pads act as
    // zero padding of the float input.
    job.correction[lane] = q.zero * weights.weightSum[static_cast<size_t>(m)];
    job.outScale[lane] = q.scale * weightScale[m];
    job.bias[lane] = bias[m];
  }
  job.kernel = tileKernel();
  job.strip = s.strideW == 1 ? stripKernel() : nullptr;
  job.Y = Y;
}

}  // namespace

int64_t int8ConvOutputSize(int64_t size, int64_t padBegin, int64_t padEnd, int64_t kernel, int64_t dilation,
                           int64_t stride) {
  const int64_t span = size + padBegin + padEnd - dilation * (kernel - 1) - 1;
  return span < 0 ? 0 : span / stride + 1;
}

void int8ConvDeriveOutput(Int8ConvShape& s) {
  s.Ho = int8ConvOutputSize(s.H, s.padTop, s.padBottom, s.kH, s.dilH, s.strideH);
  s.Wo = int8ConvOutputSize(s.W, s.padLeft, s.padRight, s.kW, s.dilW, s.strideW);
}

void setInt8ConvPath(Int8ConvPath path) { g_path.store(path, std::memory_order_relaxed); }

Int8ConvPath int8ConvPath() { return g_path.load(std::memory_order_relaxed); }

bool int8ConvPathAvailable(Int8ConvPath path) {
  switch (path) {
    case Int8ConvPath::Avx512Vnni: return int8Avx512VnniAvailable();
    case Int8ConvPath::AvxVnni: return int8AvxVnniAvailable();
    default: return true;
  }
}

Int8Quantisation int8QuantisationOf(float lo, float hi) {
  Int8Quantisation q;
  const float s = (hi - lo) / 255.f;
  q.scale = s > 0.f ? s : 1.f;
  const float z = std::rint(-lo / q.scale);
  q.zero = static_cast<int32_t>(std::clamp(z, 0.f, 255.f));
  return q;
}

void int8ConvForward(const Int8ConvShape& s, const Int8PackedWeights& weights, const float* X,
                     const float* weightScale, const float* bias, float* Y) {
  if (s.N == 0 || s.M == 0 || s.Ho == 0 || s.Wo == 0) return;
  float lo = 0.f, hi = 0.f;
  int8InputRange(s, X, &lo, &hi);
  const Int8Quantisation q = int8QuantisationOf(lo, hi);
  Int8RowJob& job = callJob();
  fillRowJob(job, s, weights, q, weightScale, bias, Y);
  pool::parallelRange(static_cast<size_t>(s.N * s.Ho), 1, [&](size_t begin, size_t end) {
    convolveRows(job, X, static_cast<int64_t>(begin), static_cast<int64_t>(end));
  });
}

}  // namespace le
