// The AVX512-VNNI tile, compiled for that target only.
#include <immintrin.h>

#include <cstring>

#include "render/ops/int8_conv_tile.h"

namespace le {

namespace {

using simd::kInt8DotBlock;
using simd::kInt8DotDepth;

// P pixels, each with its block of sixteen channel sums in one register: per tap and quad of input
// channels one weight load serves P dot products.
template <int P>
__attribute__((target("avx512f,avx512vnni"))) void tile512(const simd::Int8DotTile& t) {
  __m512i acc[P];
  for (int p = 0; p < P; ++p) acc[p] = _mm512_setzero_si512();
  for (int tap = 0; tap < t.taps; ++tap) {
    const uint8_t* in = t.in + t.tapOffsets[tap];
    const int8_t* w = t.weights + static_cast<size_t>(tap) * t.quads * kInt8DotBlock * kInt8DotDepth;
    for (int q = 0; q < t.quads; ++q) {
      const __m512i weights = _mm512_loadu_si512(w + q * kInt8DotBlock * kInt8DotDepth);
      const uint8_t* a = in + q * t.quadStep;
#pragma GCC unroll 8
      for (int p = 0; p < P; ++p) {
        int32_t quad;
        std::memcpy(&quad, a + p * t.pixelStep, sizeof quad);
        acc[p] = _mm512_dpbusd_epi32(acc[p], _mm512_set1_epi32(quad), weights);
      }
    }
  }
  for (int p = 0; p < P; ++p) _mm512_storeu_si512(t.acc + p * kInt8DotBlock, acc[p]);
}

}  // namespace

bool int8Avx512VnniAvailable() {
  static const bool available = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vnni");
  return available;
}

void int8DotTileAvx512Vnni(const simd::Int8DotTile& t) {
  static_assert(simd::kInt8DotPixels == 8, "one instantiation per tile width");
  switch (t.pixels) {
    case 1: return tile512<1>(t);
    case 2: return tile512<2>(t);
    case 3: return tile512<3>(t);
    case 4: return tile512<4>(t);
    case 5: return tile512<5>(t);
    case 6: return tile512<6>(t);
    case 7: return tile512<7>(t);
    case 8: return tile512<8>(t);
    default: return;
  }
}

}  // namespace le
