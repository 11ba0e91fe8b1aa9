// The AVX512-VNNI strip, compiled for that target only. Lanes over output pixels let every input
// load serve eight output channels and every weight broadcast serve up to 48 pixels.
#include <immintrin.h>

#include <cstring>

#include "render/ops/int8_conv_tile.h"

namespace le {

namespace {

using simd::kInt8DotBlock;
using simd::kInt8DotDepth;

// Output channels per pass: eight channels times three registers of pixels
// keep 24 sums, three inputs and a broadcast weight in the 32 registers.
constexpr int kLanes = kInt8StripLanes;
constexpr int kPassChannels = 8;

// Channels [first, first + kPassChannels) of the block over P registers of pixels.
template <int P>
__attribute__((target("avx512f,avx512vnni"))) void pass512(const Int8RowStrip& s, int first) {
  __m512i acc[kPassChannels][P];
  for (int m = 0; m < kPassChannels; ++m)
    for (int p = 0; p < P; ++p) acc[m][p] = _mm512_setzero_si512();
  for (int tap = 0; tap < s.taps; ++tap) {
    const uint8_t* in = s.in + s.tapOffsets[tap];
    const int8_t* w = s.weights + (static_cast<size_t>(tap) * s.quads * kInt8DotBlock + first) * kInt8DotDepth;
    for (int q = 0; q < s.quads; ++q) {
      __m512i x[P];
      for (int p = 0; p < P; ++p) x[p] = _mm512_loadu_si512(in + q * s.quadStep + p * kLanes * kInt8DotDepth);
      const int8_t* wq = w + q * kInt8DotBlock * kInt8DotDepth;
#pragma GCC unroll 8
      for (int m = 0; m < kPassChannels; ++m) {
        int32_t quad;
        std::memcpy(&quad, wq + m * kInt8DotDepth, sizeof quad);
        const __m512i weight = _mm512_set1_epi32(quad);
        for (int p = 0; p < P; ++p) acc[m][p] = _mm512_dpbusd_epi32(acc[m][p], x[p], weight);
      }
    }
  }
  const int rows = s.channels - first < kPassChannels ? s.channels - first : kPassChannels;
  for (int m = 0; m < rows; ++m)
    for (int p = 0; p < P; ++p) _mm512_storeu_si512(s.acc + (first + m) * s.accStride + p * kLanes, acc[m][p]);
}

}  // namespace

void int8RowStripAvx512Vnni(const Int8RowStrip& s) {
  static_assert(kInt8StripPixels == 3 * kLanes, "one instantiation per register count");
  const int registers = (s.pixels + kLanes - 1) / kLanes;
  for (int first = 0; first < s.channels; first += kPassChannels) {
    switch (registers) {
      case 1: pass512<1>(s, first); break;
      case 2: pass512<2>(s, first); break;
      default: pass512<3>(s, first); break;
    }
  }
}

}  // namespace le
