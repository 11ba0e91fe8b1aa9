#include "render/ops/gridsample_fast.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

// Coordinates round step by step, never fused, whatever the build's target: the AVX2 path and ONNX
// Runtime's GridSample compute them the same way.
#pragma GCC optimize("fp-contract=off")

namespace le {

namespace {

std::atomic<GridSamplePath> g_path{GridSamplePath::Auto};

// Columns whose coordinates are computed once and then applied to every channel.
constexpr int64_t kChunk = 256;

}  // namespace

void setGridSampleFastPath(GridSamplePath path) { g_path.store(path, std::memory_order_relaxed); }

GridSamplePath gridSampleFastPath() { return g_path.load(std::memory_order_relaxed); }

bool gridSampleAvx2Available() {
  static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return available;
}

void gridSampleScalarRow(const float* X, const float* grid, float* Y, const GridSampleExtent& e, int64_t i, int64_t col0,
                   int64_t col1) {
  const float Wf = static_cast<float>(e.W), Hf = static_cast<float>(e.H);
  const size_t plane = static_cast<size_t>(e.H) * static_cast<size_t>(e.W);
  const size_t outPlane = static_cast<size_t>(e.Ho) * static_cast<size_t>(e.Wo);
  size_t i00[kChunk], i10[kChunk], i01[kChunk], i11[kChunk];
  float w00[kChunk], w10[kChunk], w01[kChunk], w11[kChunk];
  for (int64_t j0 = col0; j0 < col1; j0 += kChunk) {
    const int64_t n = std::min(kChunk, col1 - j0);
    for (int64_t k = 0; k < n; ++k) {
      const float* g = grid + (i * e.Wo + j0 + k) * 2;
      float x = (1.f + g[0]) * 0.5f * Wf - 0.5f;
      float y = (1.f + g[1]) * 0.5f * Hf - 0.5f;
      // Clamping to [-1, W] (NaN to -1) keeps every index in range and leaves the border result
      // unchanged: beyond either edge both taps already fall on the edge pixel.
      if (!(x >= -1.f)) x = -1.f;
      if (x > Wf) x = Wf;
      if (!(y >= -1.f)) y = -1.f;
      if (y > Hf) y = Hf;
      const float xf = std::floor(x), yf = std::floor(y);
      const float fx = x - xf, fy = y - yf;
      const int64_t x0 = static_cast<int64_t>(xf), y0 = static_cast<int64_t>(yf);
      const int64_t xa = x0 < 0 ? 0 : std::min(x0, e.W - 1), xb = x0 < 0 ? 0 : std::min(x0 + 1, e.W - 1);
      const int64_t ya = y0 < 0 ? 0 : std::min(y0, e.H - 1), yb = y0 < 0 ? 0 : std::min(y0 + 1, e.H - 1);
      i00[k] = static_cast<size_t>(ya * e.W + xa);
      i10[k] = static_cast<size_t>(ya * e.W + xb);
      i01[k] = static_cast<size_t>(yb * e.W + xa);
      i11[k] = static_cast<size_t>(yb * e.W + xb);
      w00[k] = (1.f - fx) * (1.f - fy);
      w10[k] = fx * (1.f - fy);
      w01[k] = (1.f - fx) * fy;
      w11[k] = fx * fy;
    }
    for (int64_t c = 0; c < e.C; ++c) {
      const float* p = X + static_cast<size_t>(c) * plane;
      float* out = Y + static_cast<size_t>(c) * outPlane + static_cast<size_t>(i * e.Wo + j0);
      for (int64_t k = 0; k < n; ++k)
        out[k] = w00[k] * p[i00[k]] + w10[k] * p[i10[k]] + w01[k] * p[i01[k]] + w11[k] * p[i11[k]];
    }
  }
}

void gridSampleScalar(const float* X, const float* grid, float* Y, const GridSampleExtent& e, int64_t row0, int64_t row1) {
  for (int64_t i = row0; i < row1; ++i) gridSampleScalarRow(X, grid, Y, e, i, 0, e.Wo);
}

void gridSampleBand(const float* X, const float* grid, float* Y, const GridSampleExtent& e, int64_t row0,
                          int64_t row1) {
  row0 = std::max<int64_t>(row0, 0);
  row1 = std::min(row1, e.Ho);
  if (row0 >= row1 || e.C <= 0 || e.Wo <= 0 || e.H <= 0 || e.W <= 0) return;
  const bool fits32 = e.H * e.W <= std::numeric_limits<int32_t>::max();
  if (fits32 && gridSampleFastPath() == GridSamplePath::Auto && gridSampleAvx2Available())
    gridSampleAvx2(X, grid, Y, e, row0, row1);
  else
    gridSampleScalar(X, grid, Y, e, row0, row1);
}

void gridSampleBand(const float* X, const float* grid, float* Y, int64_t C, int64_t H, int64_t W,
                          int64_t row0, int64_t row1) {
  gridSampleBand(X, grid, Y, GridSampleExtent{C, H, W, H, W}, row0, row1);
}

void gridSampleImage(const float* X, const float* grid, float* Y, int64_t C, int64_t H, int64_t W) {
  gridSampleBand(X, grid, Y, C, H, W, 0, H);
}

}  // namespace le
