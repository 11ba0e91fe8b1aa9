#include "render/ops/int8_conv_quantise.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "pool/pool.h"
#include "simd/int8_dot.h"

namespace le {

namespace {

// Values per part of the parallel range scan.
constexpr size_t kRangeGrain = 4096;

// Quantises input row y of image n into its padded row, one quad of a group's channels at a time,
// and gives the quads' left and right pads the zero point.
void quantiseRow(const Int8ConvShape& s, const Int8InputLayout& layout, const Int8Quantisation& q, const float* X,
                 int64_t n, int64_t y, uint8_t* row) {
  const int64_t Cg = s.C / s.group;
  const size_t W = static_cast<size_t>(s.W);
  const size_t left = static_cast<size_t>(s.padLeft) * simd::kInt8DotDepth;
  const size_t right = static_cast<size_t>(s.padRight) * simd::kInt8DotDepth;
  for (int64_t g = 0; g < s.group; ++g)
    for (int64_t c0 = 0; c0 < Cg; c0 += simd::kInt8DotDepth) {
      const float* planes[simd::kInt8DotDepth] = {};
      const int channels = static_cast<int>(std::min<int64_t>(simd::kInt8DotDepth, Cg - c0));
      for (int j = 0; j < channels; ++j) planes[j] = X + ((n * s.C + g * Cg + c0 + j) * s.H + y) * s.W;
      uint8_t* quadRow = row + g * layout.groupStep + c0 / simd::kInt8DotDepth * layout.quadStep;
      std::memset(quadRow, q.zero, left);
      simd::int8QuantiseQuads(planes, channels, W, q.scale, static_cast<float>(q.zero), quadRow + left);
      std::memset(quadRow + left + W * simd::kInt8DotDepth, q.zero, right);
    }
}

}  // namespace

void int8InputRange(const float* X, size_t count, float* lo, float* hi) {
  float l = 0.f, h = 0.f;
  if (pool::parts(count, kRangeGrain) > 1) {
    std::mutex m;
    pool::parallelRange(count, kRangeGrain, [&](size_t begin, size_t end) {
      float pl = 0.f, ph = 0.f;
      simd::int8Range(X + begin, end - begin, &pl, &ph);
      std::lock_guard<std::mutex> lock(m);
      l = std::min(l, pl);
      h = std::max(h, ph);
    });
  } else {
    simd::int8Range(X, count, &l, &h);
  }
  *lo = l;
  *hi = h;
}

Int8InputLayout int8InputLayout(const Int8ConvShape& s, int64_t quads) {
  Int8InputLayout layout;
  layout.height = s.H + s.padTop + s.padBottom;
  layout.width = s.W + s.padLeft + s.padRight;
  layout.quadStep = layout.width * simd::kInt8DotDepth;
  layout.groupStep = quads * layout.quadStep;
  layout.rowStep = s.group * layout.groupStep;
  return layout;
}

void int8QuantiseRows(const Int8ConvShape& s, const Int8InputLayout& layout, const Int8Quantisation& q,
                      const float* X, int64_t n, int64_t first, int64_t end, uint8_t* out) {
  const size_t rowBytes = static_cast<size_t>(layout.rowStep);
  for (int64_t r = first; r < end; ++r, out += rowBytes) {
    const int64_t y = r - s.padTop;
    if (y >= 0 && y < s.H)
      quantiseRow(s, layout, q, X, n, y, out);
    else
      std::memset(out, q.zero, rowBytes);
  }
  std::memset(out, q.zero, kInt8InputSlack);
}

}  // namespace le
