// The AVX2 + FMA path of GridSampleFast, compiled for that target only; gridSampleBand calls
// it when the CPU has both extensions.
#include <immintrin.h>

#include <algorithm>
#include <cstddef>

#include "render/ops/gridsample_fast.h"

// GCC writes these intrinsics as plain vector arithmetic and would fuse the coordinate multiply and
// subtract under this target; the coordinates must round exactly as the scalar path's do, so that
// both paths (and ONNX Runtime's GridSample) take the same taps and fractions.
#pragma GCC optimize("fp-contract=off")

namespace le {

namespace {

constexpr int kChunk = 256;

}  // namespace

__attribute__((target("avx2,fma"))) void gridSampleAvx2(const float* X, const float* grid, float* Y, const GridSampleExtent& e,
                                                  int64_t row0, int64_t row1) {
  const int64_t W8 = e.Wo / 8 * 8;
  const size_t plane = static_cast<size_t>(e.H) * static_cast<size_t>(e.W);
  const size_t outPlane = static_cast<size_t>(e.Ho) * static_cast<size_t>(e.Wo);
  const __m256 one = _mm256_set1_ps(1.f), half = _mm256_set1_ps(0.5f), lo = _mm256_set1_ps(-1.f);
  const __m256 Wf = _mm256_set1_ps(static_cast<float>(e.W)), Hf = _mm256_set1_ps(static_cast<float>(e.H));
  const __m256i zero = _mm256_setzero_si256(), oneI = _mm256_set1_epi32(1);
  const __m256i Wlast = _mm256_set1_epi32(static_cast<int>(e.W - 1)), Hlast = _mm256_set1_epi32(static_cast<int>(e.H - 1));
  const __m256i Wi = _mm256_set1_epi32(static_cast<int>(e.W));
  alignas(32) int i00[kChunk], i10[kChunk], i01[kChunk], i11[kChunk];
  alignas(32) float w00[kChunk], w10[kChunk], w01[kChunk], w11[kChunk];

  for (int64_t i = row0; i < row1; ++i) {
    for (int64_t j0 = 0; j0 < W8; j0 += kChunk) {
      const int n = static_cast<int>(std::min<int64_t>(kChunk, W8 - j0));
      for (int k = 0; k < n; k += 8) {
        const float* g = grid + (i * e.Wo + j0 + k) * 2;
        const __m256 a = _mm256_loadu_ps(g), b = _mm256_loadu_ps(g + 8);
        const __m256 gx = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(a, b, 0x88)), 0xD8));
        const __m256 gy = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(a, b, 0xDD)), 0xD8));
        // Same operation order as the scalar path, unfused, so both paths take the same taps.
        __m256 x = _mm256_sub_ps(_mm256_mul_ps(_mm256_mul_ps(_mm256_add_ps(one, gx), half), Wf), half);
        __m256 y = _mm256_sub_ps(_mm256_mul_ps(_mm256_mul_ps(_mm256_add_ps(one, gy), half), Hf), half);
        x = _mm256_min_ps(_mm256_max_ps(x, lo), Wf);  // max returns lo for NaN
        y = _mm256_min_ps(_mm256_max_ps(y, lo), Hf);
        const __m256 xf = _mm256_floor_ps(x), yf = _mm256_floor_ps(y);
        const __m256 fx = _mm256_sub_ps(x, xf), fy = _mm256_sub_ps(y, yf);
        const __m256i x0 = _mm256_cvttps_epi32(xf), y0 = _mm256_cvttps_epi32(yf);
        const __m256i xa = _mm256_max_epi32(_mm256_min_epi32(x0, Wlast), zero);
        const __m256i xb = _mm256_min_epi32(_mm256_add_epi32(x0, oneI), Wlast);
        const __m256i ya = _mm256_max_epi32(_mm256_min_epi32(y0, Hlast), zero);
        const __m256i yb = _mm256_min_epi32(_mm256_add_epi32(y0, oneI), Hlast);
        const __m256i ra = _mm256_mullo_epi32(ya, Wi), rb = _mm256_mullo_epi32(yb, Wi);
        _mm256_store_si256(reinterpret_cast<__m256i*>(i00 + k), _mm256_add_epi32(ra, xa));
        _mm256_store_si256(reinterpret_cast<__m256i*>(i10 + k), _mm256_add_epi32(ra, xb));
        _mm256_store_si256(reinterpret_cast<__m256i*>(i01 + k), _mm256_add_epi32(rb, xa));
        _mm256_store_si256(reinterpret_cast<__m256i*>(i11 + k), _mm256_add_epi32(rb, xb));
        const __m256 ofx = _mm256_sub_ps(one, fx), ofy = _mm256_sub_ps(one, fy);
        _mm256_store_ps(w00 + k, _mm256_mul_ps(ofx, ofy));
        _mm256_store_ps(w10 + k, _mm256_mul_ps(fx, ofy));
        _mm256_store_ps(w01 + k, _mm256_mul_ps(ofx, fy));
        _mm256_store_ps(w11 + k, _mm256_mul_ps(fx, fy));
      }
      for (int64_t c = 0; c < e.C; ++c) {
        const float* p = X + static_cast<size_t>(c) * plane;
        float* out = Y + static_cast<size_t>(c) * outPlane + static_cast<size_t>(i * e.Wo + j0);
        for (int k = 0; k < n; k += 8) {
          const __m256 v00 = _mm256_i32gather_ps(p, _mm256_load_si256(reinterpret_cast<const __m256i*>(i00 + k)), 4);
          const __m256 v10 = _mm256_i32gather_ps(p, _mm256_load_si256(reinterpret_cast<const __m256i*>(i10 + k)), 4);
          const __m256 v01 = _mm256_i32gather_ps(p, _mm256_load_si256(reinterpret_cast<const __m256i*>(i01 + k)), 4);
          const __m256 v11 = _mm256_i32gather_ps(p, _mm256_load_si256(reinterpret_cast<const __m256i*>(i11 + k)), 4);
          __m256 acc = _mm256_mul_ps(_mm256_load_ps(w10 + k), v10);
          acc = _mm256_fmadd_ps(_mm256_load_ps(w00 + k), v00, acc);
          acc = _mm256_fmadd_ps(_mm256_load_ps(w01 + k), v01, acc);
          acc = _mm256_fmadd_ps(_mm256_load_ps(w11 + k), v11, acc);
          _mm256_storeu_ps(out + k, acc);
        }
      }
    }
    if (W8 < e.Wo) gridSampleScalarRow(X, grid, Y, e, i, W8, e.Wo);
  }
}

}  // namespace le
