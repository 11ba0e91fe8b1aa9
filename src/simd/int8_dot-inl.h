// Per-target int8 dot-product tile and its dequantisation. Each packed 32-bit weight lane is split
// into its four signed bytes, each multiplied by the matching input byte and added in 32 bits. Every
// product and sum is exact, so every target yields the same integers as the dot-product
// instructions; the dequantisation rounds each lane's product and sum once, as scalar code does.
#if defined(LE_SIMD_INT8_DOT_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LE_SIMD_INT8_DOT_INL_H_
#undef LE_SIMD_INT8_DOT_INL_H_
#else
#define LE_SIMD_INT8_DOT_INL_H_
#endif

#include <algorithm>
#include <hwy/highway.h>

#include "simd/int8_dot.h"

HWY_BEFORE_NAMESPACE();
namespace le::simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Adds four input bytes times the four weight vectors w[0..3] into the sums at acc.
template <class D, class V>
HWY_INLINE void AccumulateQuad(D d, const uint8_t* HWY_RESTRICT a, const V* w, int32_t* HWY_RESTRICT acc) {
  V sum = hn::LoadU(d, acc);
  for (int j = 0; j < kInt8DotDepth; ++j) sum = hn::Add(sum, hn::Set(d, static_cast<int32_t>(a[j])) * w[j]);
  hn::StoreU(sum, d, acc);
}

void Int8DotTileKernel(const Int8DotTile& tile) {
  const hn::CappedTag<int32_t, kInt8DotBlock> d;
  using V = hn::Vec<decltype(d)>;
  const size_t lanes = hn::Lanes(d);
  std::fill(tile.acc, tile.acc + static_cast<size_t>(tile.pixels) * kInt8DotBlock, 0);
  for (int t = 0; t < tile.taps; ++t) {
    const uint8_t* tapIn = tile.in + tile.tapOffsets[t];
    for (int q = 0; q < tile.quads; ++q) {
      const int8_t* w = tile.weights + (static_cast<size_t>(t) * tile.quads + q) * kInt8DotBlock * kInt8DotDepth;
      for (size_t v = 0; v < kInt8DotBlock; v += lanes) {
        const V packed = hn::LoadU(d, reinterpret_cast<const int32_t*>(w) + v);
        // Byte j of each lane, sign-extended: shift it to the top, then arithmetically back down.
        const V bytes[kInt8DotDepth] = {hn::ShiftRight<24>(hn::ShiftLeft<24>(packed)),
                                        hn::ShiftRight<24>(hn::ShiftLeft<16>(packed)),
                                        hn::ShiftRight<24>(hn::ShiftLeft<8>(packed)), hn::ShiftRight<24>(packed)};
        for (int p = 0; p < tile.pixels; ++p)
          AccumulateQuad(d, tapIn + p * tile.pixelStep + q * tile.quadStep, bytes,
                         tile.acc + static_cast<size_t>(p) * kInt8DotBlock + v);
      }
    }
  }
}

void Int8DequantiseKernel(const int32_t* HWY_RESTRICT acc, int pixels, const int32_t* HWY_RESTRICT correction,
                          const float* HWY_RESTRICT k, const float* HWY_RESTRICT bias, float* HWY_RESTRICT out) {
  const hn::CappedTag<int32_t, kInt8DotBlock> di;
  const hn::Rebind<float, decltype(di)> df;
  const size_t lanes = hn::Lanes(di);
  for (size_t v = 0; v < kInt8DotBlock; v += lanes) {
    const auto c = hn::LoadU(di, correction + v);
    const auto scale = hn::LoadU(df, k + v), offset = hn::LoadU(df, bias + v);
    for (int p = 0; p < pixels; ++p) {
      const size_t at = static_cast<size_t>(p) * kInt8DotBlock + v;
      const auto centred = hn::ConvertTo(df, hn::Sub(hn::LoadU(di, acc + at), c));
      hn::StoreU(hn::Add(hn::Mul(scale, centred), offset), df, out + at);
    }
  }
}

void Int8DequantiseRowsKernel(const int32_t* HWY_RESTRICT acc, size_t accStride, int channels, size_t pixels,
                              const int32_t* HWY_RESTRICT correction, const float* HWY_RESTRICT k,
                              const float* HWY_RESTRICT bias, float* HWY_RESTRICT out, size_t outStride) {
  const hn::ScalableTag<float> df;
  const hn::RebindToSigned<decltype(df)> di;
  const size_t lanes = hn::Lanes(df);
  for (int o = 0; o < channels; ++o) {
    const int32_t* row = acc + static_cast<size_t>(o) * accStride;
    float* dst = out + static_cast<size_t>(o) * outStride;
    const auto c = hn::Set(di, correction[o]);
    const auto scale = hn::Set(df, k[o]), offset = hn::Set(df, bias[o]);
    size_t i = 0;
    for (; i + lanes <= pixels; i += lanes)
      hn::StoreU(hn::Add(hn::Mul(scale, hn::ConvertTo(df, hn::Sub(hn::LoadU(di, row + i), c))), offset), df, dst + i);
    for (; i < pixels; ++i) dst[i] = k[o] * static_cast<float>(row[i] - correction[o]) + bias[o];
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace le::simd
HWY_AFTER_NAMESPACE();

#endif  // LE_SIMD_INT8_DOT_INL_H_
