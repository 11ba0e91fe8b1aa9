#include "render/ops/int8_conv_quantise.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "pool/pool.h"
#include "simd/int8_dot.h"

namespace le {

namespace {

// Sets `pixels` quads to the zero point: a pad is a pixel or two, too short to be worth a memset call.
void fillZeroPoint(uint8_t* quads, int64_t pixels, int32_t zero) {
  const uint32_t quad = static_cast<uint32_t>(zero) * 0x01010101u;
  for (int64_t x = 0; x < pixels; ++x) std::memcpy(quads + x * simd::kInt8DotDepth, &quad, sizeof quad);
}

// Quantises input row y of image n into its padded row, one quad of a group's channels at a time,
// and gives the quads' left and right pads the zero point.
void quantiseRow(const Int8ConvShape& s, const Int8InputLayout& layout, const Int8Quantisation& q, const float* X,
                 int64_t n, int64_t y, uint8_t* row) {
  const int64_t Cg = s.C / s.group;
  const size_t W = static_cast<size_t>(s.W);
  const size_t left = static_cast<size_t>(s.padLeft) * simd::kInt8DotDepth;
  for (int64_t g = 0; g < s.group; ++g)
    for (int64_t c0 = 0; c0 < Cg; c0 += simd::kInt8DotDepth) {
      const float* planes[simd::kInt8DotDepth] = {};
      const int channels = static_cast<int>(std::min<int64_t>(simd::kInt8DotDepth, Cg - c0));
      for (int j = 0; j < channels; ++j) planes[j] = X + ((n * s.C + g * Cg + c0 + j) * s.H + y) * s.W;
      uint8_t* quadRow = row + g * layout.groupStep + c0 / simd::kInt8DotDepth * layout.quadStep;
      fillZeroPoint(quadRow, s.padLeft, q.zero);
      simd::int8QuantiseQuads(planes, channels, W, q.scale, static_cast<float>(q.zero), quadRow + left);
      fillZeroPoint(quadRow + left + W * simd::kInt8DotDepth, s.padRight, q.zero);
    }
}

}  // namespace

void int8InputRange(const Int8ConvShape& s, const float* X, float* lo, float* hi) {
  float l = 0.f, h = 0.f;
  std::mutex m;
  pool::parallelRange(static_cast<size_t>(s.N * s.Ho), 1, [&](size_t begin, size_t end) {
    float pl = 0.f, ph = 0.f;
    for (int64_t r = static_cast<int64_t>(begin); r < static_cast<int64_t>(end);) {
      const int64_t n = r / s.Ho, oyBegin = r % s.Ho, oyEnd = std::min(s.Ho, oyBegin + static_cast<int64_t>(end) - r);
      // Input rows [yBegin, yEnd): consecutive parts meet exactly, the last ends at H.
      const int64_t yBegin = oyBegin * s.H / s.Ho, yEnd = oyEnd * s.H / s.Ho;
      for (int64_t c = 0; c < s.C; ++c)
        simd::int8Range(X + ((n * s.C + c) * s.H + yBegin) * s.W, static_cast<size_t>((yEnd - yBegin) * s.W), &pl, &ph);
      r += oyEnd - oyBegin;
    }
    std::lock_guard<std::mutex> lock(m);
    l = std::min(l, pl);
    h = std::max(h, ph);
  });
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
