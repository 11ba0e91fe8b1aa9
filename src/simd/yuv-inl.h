// Per-target conversion of one 4:2:0 video row to RGB24 with the BT.601 limited-range integer
// formulae.
#if defined(LE_SIMD_YUV_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LE_SIMD_YUV_INL_H_
#undef LE_SIMD_YUV_INL_H_
#else
#define LE_SIMD_YUV_INL_H_
#endif

#include <algorithm>
#include <hwy/highway.h>

#include "simd/yuv_coefficients.h"

HWY_BEFORE_NAMESPACE();
namespace le::simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Pixel x by the formulae, one at a time: rows too short for a vector and the tail of a row.
inline void YuvPixel(const uint8_t* y, const uint8_t* u, const uint8_t* v, int chromaStep, int x,
                     uint8_t* rgb) {
  const int k = chromaStep * (x / 2);
  const int c = y[x] - 16;
  const int d = u[k] - 128;
  const int e = v[k] - 128;
  const int r = (298 * c + 409 * e + 128) >> 8;
  const int g = (298 * c - 100 * d - 208 * e + 128) >> 8;
  const int b = (298 * c + 516 * d + 128) >> 8;
  rgb[3 * x + 0] = static_cast<uint8_t>(std::clamp(r, 0, 255));
  rgb[3 * x + 1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
  rgb[3 * x + 2] = static_cast<uint8_t>(std::clamp(b, 0, 255));
}

#if HWY_TARGET != HWY_SCALAR
// The vector body computes the same bits in 16-bit lanes. With C = Y - 16, D = U - 128,
// E = V - 128, write 298 = 256 + 42 and move every multiple of 256 out of the shift
// (floor((256a + b) / 256) = a + floor(b / 256) for integers a, b):
//   R = C + E  + ((t + 153E) >> 8)
//   G = C - E  + ((t + 48E - 100D) >> 8)        (-208 = -256 + 48)
//   B = C + 2D + ((t + 4D) >> 8)                (516 = 512 + 4)
// with t = 42C + 128. Folding the -16 of C into the shifted sum as -16 * 256 leaves
// o = Y + base + ((42Y - 4640 + term) >> 8), base being E, -E or 2D and term 153E, 48E - 100D or
// 4D; every shifted sum stays within [-24224, 25501].
//
// The clamp to [0, 255] uses saturation: base carries a bias of 32512, the saturating add of it
// takes every o above 255 to 32767 = 255 + 32512, and a saturating unsigned subtraction of the
// bias takes every negative o to 0.
//
// One 16-bit lane holds a pixel pair: its even pixel in the low byte, its odd pixel in the high
// byte. A lane of luma thus lines up with one chroma sample, and the results go back into the same
// byte positions.

// The chroma parts of one channel for a run of pixel pairs.
template <class V>
struct ChromaTerms {
  V base;  // added after the shift, with the clamp bias
  V term;  // added before the shift
};

// One channel for the luma of one parity (plain and 42Y - 4640), clamped, one value per lane.
template <class D16, class V = hn::Vec<D16>>
HWY_INLINE V ChannelOfParity(D16 d16, V luma, V lumaTerm, ChromaTerms<V> chroma, V bias) {
  const hn::RebindToUnsigned<D16> du16;
  const auto biased = hn::SaturatedAdd(
      hn::Add(luma, hn::ShiftRight<8>(hn::Add(lumaTerm, chroma.term))), chroma.base);
  return hn::BitCast(d16, hn::SaturatedSub(hn::BitCast(du16, biased), hn::BitCast(du16, bias)));
}

// Converts pixels [0, 2 * Lanes(d16)) from their luma bytes and their chroma, one sample per
// 16-bit lane.
template <class D16, class V = hn::Vec<D16>>
HWY_INLINE void PixelPairs(D16 d16, const uint8_t* HWY_RESTRICT y, V uu, V vv,
                           uint8_t* HWY_RESTRICT rgb) {
  const hn::RebindToUnsigned<D16> du16;
  const hn::Repartition<uint8_t, D16> d8;
  const YuvCoefficients& k = kYuvCoefficients;
  const auto pairs = hn::BitCast(du16, hn::LoadU(d8, y));
  const auto yEven = hn::BitCast(d16, hn::And(pairs, hn::Set(du16, k.lowByte)));
  const auto yOdd = hn::BitCast(d16, hn::ShiftRight<8>(pairs));
  const auto lumaFactor = hn::Set(d16, k.lumaFactor), lumaOffset = hn::Set(d16, k.lumaOffset);
  const auto termEven = hn::Add(hn::Mul(yEven, lumaFactor), lumaOffset);
  const auto termOdd = hn::Add(hn::Mul(yOdd, lumaFactor), lumaOffset);

  const auto zero = hn::Set(d16, k.chromaZero), bias = hn::Set(d16, k.clampBias);
  const auto dd = hn::Sub(uu, zero), ee = hn::Sub(vv, zero);
  const ChromaTerms<V> chroma[3] = {
      {hn::Add(ee, bias), hn::Mul(ee, hn::Set(d16, k.redFromV))},
      {hn::Sub(bias, ee), hn::Sub(hn::Mul(ee, hn::Set(d16, k.greenFromV)),
                                  hn::Mul(dd, hn::Set(d16, k.greenFromU)))},
      {hn::Add(hn::Add(dd, dd), bias), hn::ShiftLeft<2>(dd)}};
  hn::Vec<decltype(d8)> channel[3];
  for (int c = 0; c < 3; ++c) {
    const auto even = ChannelOfParity(d16, yEven, termEven, chroma[c], bias);
    const auto odd = ChannelOfParity(d16, yOdd, termOdd, chroma[c], bias);
    channel[c] = hn::BitCast(d8, hn::Or(even, hn::ShiftLeft<8>(odd)));
  }
  hn::StoreInterleaved3(channel[0], channel[1], channel[2], d8, rgb);
}
#endif

void Yuv420RowToRgb24(const uint8_t* HWY_RESTRICT y, const uint8_t* HWY_RESTRICT u,
                      const uint8_t* HWY_RESTRICT v, int width, int chromaStep,
                      uint8_t* HWY_RESTRICT rgb) {
  int x = 0;
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<int16_t> d16;
  const hn::RebindToUnsigned<decltype(d16)> du16;
  const hn::Repartition<uint8_t, decltype(d16)> d8;   // two bytes per 16-bit lane
  const hn::Rebind<uint8_t, decltype(d16)> dChroma8;  // one byte per 16-bit lane
  const int pixels = static_cast<int>(2 * hn::Lanes(d16));
  if (chromaStep == 1) {
    for (; x + pixels <= width; x += pixels) {
      PixelPairs(d16, y + x, hn::PromoteTo(d16, hn::LoadU(dChroma8, u + x / 2)),
                 hn::PromoteTo(d16, hn::LoadU(dChroma8, v + x / 2)), rgb + 3 * x);
    }
  } else if (chromaStep == 2) {
    for (; x + pixels <= width; x += pixels) {
      const auto uv = hn::BitCast(du16, hn::LoadU(d8, u + x));  // u0 v0 u1 v1 ...
      const auto lowByte = hn::Set(du16, kYuvCoefficients.lowByte);
      PixelPairs(d16, y + x, hn::BitCast(d16, hn::And(uv, lowByte)),
                 hn::BitCast(d16, hn::ShiftRight<8>(uv)), rgb + 3 * x);
    }
  }
#endif
  for (; x < width; ++x) YuvPixel(y, u, v, chromaStep, x, rgb);
}

}  // namespace HWY_NAMESPACE
}  // namespace le::simd
HWY_AFTER_NAMESPACE();

#endif  // LE_SIMD_YUV_INL_H_
