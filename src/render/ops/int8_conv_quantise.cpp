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

// Quantises input row y of image n into its padded row, one channel plane row at a time.
void quantiseRow(const Int8ConvShape& s, const Int8InputLayout& layout, const Int8Quantisation& q, const float* X,
                 int64_t n, int64_t y, uint8_t* row, std::vector<uint8_t>& plane) {
  const int64_t Cg = s.C / s.group;
  uint8_t* first = row + s.padLeft * layout.pixelBytes;
  for (int64_t c = 0; c < s.C; ++c) {
    simd::int8Quantise(X + ((n * s.C + c) * s.H + y) * s.W, plane.size(), q.scale, static_cast<float>(q.zero),
                       plane.data());
    uint8_t* dst = first + c / Cg * layout.groupBytes + c % Cg;
    for (int64_t x = 0; x < s.W; ++x) dst[x * layout.pixelBytes] = plane[static_cast<size_t>(x)];
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
                        std::vector<uint8_t> plane(static_cast<size_t>(s.W));
                        std::memset(out + begin * rowBytes, q.zero, (end - begin) * rowBytes);
                        for (size_t r = begin; r < end; ++r) {
                          const int64_t n = static_cast<int64_t>(r) / layout.height;
                          const int64_t y = static_cast<int64_t>(r) % layout.height - s.padTop;
                          if (y >= 0 && y < s.H) quantiseRow(s, layout, q, X, n, y, out + r * rowBytes, plane);
                        }
                      });
}

}  // namespace le
