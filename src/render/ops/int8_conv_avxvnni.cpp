// The AVX-VNNI tile (256-bit registers, VEX encoding), compiled for that target only.
#include <immintrin.h>

#include <cstring>

#include "render/ops/int8_conv_tile.h"

namespace le {

namespace {

using simd::kInt8DotBlock;
using simd::kInt8DotDepth;

// Pixels per pass: two accumulators each, so that four pixels, the two weight registers and the
// broadcast input fit into the sixteen registers the VEX encoding reaches.
constexpr int kPassPixels = 4;

template <int P>
__attribute__((target("avx2,avxvnni"))) void pass256(const simd::Int8DotTile& t, int first) {
  __m256i lo[P], hi[P];
  for (int p = 0; p < P; ++p) lo[p] = hi[p] = _mm256_setzero_si256();
  for (int tap = 0; tap < t.taps; ++tap) {
    const uint8_t* in = t.in + t.tapOffsets[tap] + first * t.pixelStep;
    const int8_t* w = t.weights + static_cast<size_t>(tap) * t.quads * kInt8DotBlock * kInt8DotDepth;
    for (int q = 0; q < t.quads; ++q) {
      const int8_t* wq = w + q * kInt8DotBlock * kInt8DotDepth;
      const __m256i w0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wq));
      const __m256i w1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wq + 32));
      const uint8_t* a = in + q * t.quadStep;
#pragma GCC unroll 4
      for (int p = 0; p < P; ++p) {
        int32_t quad;
        std::memcpy(&quad, a + p * t.pixelStep, sizeof quad);
        const __m256i x = _mm256_set1_epi32(quad);
        lo[p] = _mm256_dpbusd_avx_epi32(lo[p], x, w0);
        hi[p] = _mm256_dpbusd_avx_epi32(hi[p], x, w1);
      }
    }
  }
  for (int p = 0; p < P; ++p) {
    int32_t* out = t.acc + (first + p) * kInt8DotBlock;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), lo[p]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8), hi[p]);
  }
}

void pass(const simd::Int8DotTile& t, int first, int count) {
  switch (count) {
    case 1: return pass256<1>(t, first);
    case 2: return pass256<2>(t, first);
    case 3: return pass256<3>(t, first);
    default: return pass256<4>(t, first);
  }
}

}  // namespace

bool int8AvxVnniAvailable() {
  static const bool available = __builtin_cpu_supports("avxvnni");
  return available;
}

void int8DotTileAvxVnni(const simd::Int8DotTile& t) {
  for (int first = 0; first < t.pixels; first += kPassPixels)
    pass(t, first, t.pixels - first < kPassPixels ? t.pixels - first : kPassPixels);
}

}  // namespace le
