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
// Per 32-bit lane i: a[2i] * b[2i] + a[2i + 1] * b[2i + 1], exact (one multiply-add instruction on
// x86). The lanes of pairs built by InterleaveLower/InterleaveUpper come out in the order that
// ReorderDemote2To undoes (all of them work within 128-bit blocks).
template <class D32, class V16>
HWY_INLINE hn::Vec<D32> PairDot(D32 d32, V16 a, V16 b) {
  auto odd = hn::Zero(d32);
  const auto even = hn::ReorderWidenMulAccumulate(d32, a, b, hn::Zero(d32), odd);
  return hn::RearrangeToOddPlusEven(even, odd);
}

// Bytes of (lo >> 8, hi >> 8) clamped to [0, 255], in pixel order.
template <class D8, class V32>
HWY_INLINE hn::Vec<D8> ToByte(D8 d8, V32 lo, V32 hi) {
  const hn::Repartition<int16_t, hn::DFromV<V32>> d16;
  const auto words = hn::ReorderDemote2To(d16, hn::ShiftRight<8>(lo), hn::ShiftRight<8>(hi));
  return hn::DemoteTo(d8, words);
}

// Each of the Lanes(d16) / 2 chroma bytes at src (planar) twice, as 16-bit lanes.
template <class D16>
HWY_INLINE hn::Vec<D16> DuplicatedPlanar(D16 d16, const uint8_t* HWY_RESTRICT src) {
  const hn::Repartition<uint32_t, D16> du32;
  const hn::Rebind<uint8_t, decltype(du32)> d8;
  const auto wide = hn::PromoteTo(du32, hn::LoadU(d8, src));
  return hn::BitCast(d16, hn::Or(wide, hn::ShiftLeft<16>(wide)));
}
#endif

void Yuv420RowToRgb24(const uint8_t* HWY_RESTRICT y, const uint8_t* HWY_RESTRICT u,
                      const uint8_t* HWY_RESTRICT v, int width, int chromaStep,
                      uint8_t* HWY_RESTRICT rgb) {
  int x = 0;
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<int16_t> d16;
  const hn::Rebind<uint8_t, decltype(d16)> d8;
  const hn::RebindToUnsigned<decltype(d16)> du16;
  const hn::Repartition<int32_t, decltype(d16)> d32;
  const hn::Repartition<uint32_t, decltype(d16)> du32;
  const int lanes = static_cast<int>(hn::Lanes(d16));
  if (chromaStep == 1 || chromaStep == 2) {
    for (; x + lanes <= width; x += lanes) {
      const auto c = hn::Sub(hn::PromoteTo(d16, hn::LoadU(d8, y + x)), hn::Set(d16, 16));
      hn::Vec<decltype(d16)> uu, vv;
      if (chromaStep == 1) {
        uu = DuplicatedPlanar(d16, u + x / 2);
        vv = DuplicatedPlanar(d16, v + x / 2);
      } else {
        // u0 v0 u1 v1 ... as 32-bit lanes: u in the low half, v in the high half.
        const auto pairs = hn::BitCast(du32, hn::PromoteTo(du16, hn::LoadU(d8, u + x)));
        const auto low = hn::And(pairs, hn::Set(du32, 0xFFFFu));
        const auto high = hn::ShiftRight<16>(pairs);
        uu = hn::BitCast(d16, hn::Or(low, hn::ShiftLeft<16>(low)));
        vv = hn::BitCast(d16, hn::Or(high, hn::ShiftLeft<16>(high)));
      }
      const auto dd = hn::Sub(uu, hn::Set(d16, 128));
      const auto ee = hn::Sub(vv, hn::Set(d16, 128));

      // Pairs (C, E), (C, D), (E, 1) against (298, 409), (298, 516), (298, -100), (-208, 128).
      const auto one = hn::Set(d16, 1);
      const auto round = hn::Set(d32, 128);
      const auto kR = hn::BitCast(d16, hn::Set(d32, 298 | 409 << 16));
      const auto kB = hn::BitCast(d16, hn::Set(d32, 298 | 516 << 16));
      const auto kG1 = hn::BitCast(d16, hn::Set(d32, 298 | -100 * 65536));
      const auto kG2 = hn::BitCast(d16, hn::Set(d32, (-208 & 0xFFFF) | 128 << 16));
      const auto ceLo = hn::InterleaveLower(d16, c, ee), ceHi = hn::InterleaveUpper(d16, c, ee);
      const auto cdLo = hn::InterleaveLower(d16, c, dd), cdHi = hn::InterleaveUpper(d16, c, dd);
      const auto e1Lo = hn::InterleaveLower(d16, ee, one), e1Hi = hn::InterleaveUpper(d16, ee, one);
      const auto r = ToByte(d8, hn::Add(PairDot(d32, ceLo, kR), round),
                            hn::Add(PairDot(d32, ceHi, kR), round));
      const auto g = ToByte(d8, hn::Add(PairDot(d32, cdLo, kG1), PairDot(d32, e1Lo, kG2)),
                            hn::Add(PairDot(d32, cdHi, kG1), PairDot(d32, e1Hi, kG2)));
      const auto b = ToByte(d8, hn::Add(PairDot(d32, cdLo, kB), round),
                            hn::Add(PairDot(d32, cdHi, kB), round));
      hn::StoreInterleaved3(r, g, b, d8, rgb + 3 * x);
    }
  }
#endif
  for (; x < width; ++x) YuvPixel(y, u, v, chromaStep, x, rgb);
}

}  // namespace HWY_NAMESPACE
}  // namespace le::simd
HWY_AFTER_NAMESPACE();

#endif  // LE_SIMD_YUV_INL_H_
