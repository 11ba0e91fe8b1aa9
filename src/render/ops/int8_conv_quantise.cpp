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
// Values quantised per task, at least: rows are grouped until they reach this.
constexpr size_t kQuantiseGrain = 8192;

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

Int8InputLayout int8InputLayout(const Int8ConvShape& shape, int64_t quads) {
  Int8InputLayout layout;
  layout.groupBytes = quads * simd::kInt8DotDepth;
  layout.pixelBytes = layout.groupBytes * shape.group;
  return layout;
}

void int8QuantiseInput(const Int8ConvShape& s, const Int8InputLayout& layout, const Int8Quantisation& q,
                       const float* X, uint8_t* out) {
  const size_t rows = static_cast<size_t>(s.N * s.H);
  const size_t rowValues = static_cast<size_t>(std::max<int64_t>(s.W * s.C, 1));
  const int64_t Cg = s.C / s.group;
  const float zero = static_cast<float>(q.zero);
  pool::parallelRange(rows, std::max<size_t>(1, kQuantiseGrain / rowValues), [&](size_t begin, size_t end) {
    std::vector<uint8_t> plane(static_cast<size_t>(s.W));
    for (size_t r = begin; r < end; ++r) {
      const int64_t n = static_cast<int64_t>(r) / s.H, y = static_cast<int64_t>(r) % s.H;
      uint8_t* row = out + r * static_cast<size_t>(s.W * layout.pixelBytes);
      std::memset(row, q.zero, static_cast<size_t>(s.W * layout.pixelBytes));
      for (int64_t c = 0; c < s.C; ++c) {
        simd::int8Quantise(X + ((n * s.C + c) * s.H + y) * s.W, plane.size(), q.scale, zero, plane.data());
        uint8_t* dst = row + c / Cg * layout.groupBytes + c % Cg;
        for (int64_t x = 0; x < s.W; ++x) dst[x * layout.pixelBytes] = plane[static_cast<size_t>(x)];
      }
    }
  });
}

}  // namespace le
