#include "render/ops/int8_conv_quantise.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "pool/pool.h"
#include "simd/int8_dot.h"

namespace le {

namespace {

// Values per part of the parallel range scan.
constexpr size_t kRangeGrain = 4096;
// Bytes written per task, at least: padded rows are grouped until they reach this.
constexpr size_t kQuantiseGrain = 8192;

// Quantises input row y of image n into its padded row, four channels (one quad of a group) at a
// time, so that each pixel takes one 32-bit store per quad. Channels past the group's end keep the
// zero point.
void quantiseRow(const Int8ConvShape& s, const Int8InputLayout& layout, const Int8Quantisation& q, const float* X,
                 int64_t n, int64_t y, uint8_t* row, std::vector<uint8_t>& planes) {
  const int64_t Cg = s.C / s.group;
  const size_t W = static_cast<size_t>(s.W);
  uint8_t* first = row + s.padLeft * layout.pixelBytes;
  for (int64_t g = 0; g < s.group; ++g)
    for (int64_t c0 = 0; c0 < Cg; c0 += simd::kInt8DotDepth) {
      std::fill(planes.begin(), planes.end(), static_cast<uint8_t>(q.zero));
      for (int64_t j = 0; j < simd::kInt8DotDepth && c0 + j < Cg; ++j)
        simd::int8Quantise(X + ((n * s.C + g * Cg + c0 + j) * s.H + y) * s.W, W, q.scale, static_cast<float>(q.zero),
                           planes.data() + static_cast<size_t>(j) * W);
      uint8_t* dst = first + g * layout.groupBytes + c0;
      for (size_t x = 0; x < W; ++x) {
        const uint32_t quad = uint32_t(planes[x]) | uint32_t(planes[W + x]) << 8 | uint32_t(planes[2 * W + x]) << 16 |
                              uint32_t(planes[3 * W + x]) << 24;
        std::memcpy(dst + x * static_cast<size_t>(layout.pixelBytes), &quad, sizeof quad);
      }
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
  layout.groupBytes = quads * simd::kInt8DotDepth;
  layout.pixelBytes = layout.groupBytes * s.group;
  return layout;
}

void int8QuantiseInput(const Int8ConvShape& s, const Int8InputLayout& layout, const Int8Quantisation& q,
                       const float* X, uint8_t* out) {
  const size_t rows = static_cast<size_t>(s.N * layout.height);
  const size_t rowBytes = static_cast<size_t>(layout.width * layout.pixelBytes);
  pool::parallelRange(rows, std::max<size_t>(1, kQuantiseGrain / std::max<size_t>(rowBytes, 1)),
                      [&](size_t begin, size_t end) {
                        std::vector<uint8_t> planes(static_cast<size_t>(s.W) * simd::kInt8DotDepth);
                        std::memset(out + begin * rowBytes, q.zero, (end - begin) * rowBytes);
                        for (size_t r = begin; r < end; ++r) {
                          const int64_t n = static_cast<int64_t>(r) / layout.height;
                          const int64_t y = static_cast<int64_t>(r) % layout.height - s.padTop;
                          if (y >= 0 && y < s.H) quantiseRow(s, layout, q, X, n, y, out + r * rowBytes, planes);
                        }
                      });
}

}  // namespace le
