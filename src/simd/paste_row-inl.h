// Per-target row kernels of the compositor: the separable Gaussian blur and the sharpening step of
// the unsharp mask, and the Lanczos paste of one destination row, where each covered pixel is
// blended with the 8x8 Lanczos resampling of the sharpened crop, weighted by the bilinear feather
// mask.
#if defined(LE_SIMD_PASTE_ROW_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LE_SIMD_PASTE_ROW_INL_H_
#undef LE_SIMD_PASTE_ROW_INL_H_
#else
#define LE_SIMD_PASTE_ROW_INL_H_
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <hwy/highway.h>

#include "paste/paste_fixed.h"

HWY_BEFORE_NAMESPACE();
namespace le::simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// out[x] = sum over i of kernel[i] * first[i * stride + x], each product rounded to f32 and added
// in increasing i starting from 0; the vector body keeps one running sum per lane, so every lane
// adds in exactly the scalar order.
void PasteBlurRow(const float* HWY_RESTRICT first, size_t stride, const float* HWY_RESTRICT kernel,
                  int taps, float* HWY_RESTRICT out, size_t n) {
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  size_t x = 0;
  for (; x + 2 * lanes <= n; x += 2 * lanes) {
    auto a = hn::Zero(d), b = hn::Zero(d);
    const float* column = first + x;
    for (int i = 0; i < taps; ++i, column += stride) {
      const auto k = hn::Set(d, kernel[i]);
      a = hn::Add(a, hn::Mul(k, hn::LoadU(d, column)));
      b = hn::Add(b, hn::Mul(k, hn::LoadU(d, column + lanes)));
    }
    hn::StoreU(a, d, out + x);
    hn::StoreU(b, d, out + x + lanes);
  }
  for (; x < n; ++x) {
    float sum = 0.0f;
    for (int i = 0; i < taps; ++i) sum += kernel[i] * first[size_t(i) * stride + x];
    out[x] = sum;
  }
}

// row[x] = clamp((1 + amount) * row[x] - amount * blur[x], 0, 255), products rounded to f32; a
// NaN (from a non-finite crop) becomes 0, the same on every target.
void PasteSharpenRow(float* HWY_RESTRICT row, const float* HWY_RESTRICT blur, float amount,
                     size_t n) {
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  const float keep = 1.0f + amount;
  const auto vKeep = hn::Set(d, keep), vAmount = hn::Set(d, amount);
  const auto zero = hn::Zero(d), top = hn::Set(d, 255.0f);
  size_t x = 0;
  for (; x + lanes <= n; x += lanes) {
    const auto v = hn::Sub(hn::Mul(vKeep, hn::LoadU(d, row + x)), hn::Mul(vAmount, hn::LoadU(d, blur + x)));
    hn::StoreU(hn::Min(hn::IfThenElseZero(hn::Gt(v, zero), v), top), d, row + x);
  }
  for (; x < n; ++x) {
    const float v = keep * row[x] - amount * blur[x];
    row[x] = v > 0.0f ? std::min(v, 255.0f) : 0.0f;
  }
}

// Lanczos colour of one pixel into colour[0..2] (vector targets also write colour[3]) from an
// 8x8 window of four-float pixels (window row j starts at window + j * stride). Per window row j
// and channel, with across taps a: q_k = a[k] p[k] + a[k+4] p[k+4] (k = 0..3), h_0 = q_0 + q_2,
// h_1 = q_1 + q_3, r_e(j) = down[j] h_e; then H_e = ((r_e(0) + r_e(1)) + (r_e(2) + r_e(3))) +
// ((r_e(4) + r_e(5)) + (r_e(6) + r_e(7))) and colour = H_0 + H_1. A window row's 32 floats fill
// 32 / lanes vectors, so this tree of additions falls onto whole vectors, and its depth keeps the
// pixel's chain of dependent additions short.
#if HWY_TARGET == HWY_SCALAR
HWY_INLINE void WindowColour(const float* HWY_RESTRICT window, ptrdiff_t stride,
                             const float* HWY_RESTRICT across, const float* HWY_RESTRICT down,
                             float* HWY_RESTRICT colour) {
  for (int c = 0; c < 3; ++c) {
    float r[2][8];
    for (int j = 0; j < 8; ++j) {
      const float* p = window + j * stride + c;
      float q[4];
      for (int k = 0; k < 4; ++k) q[k] = across[k] * p[4 * k] + across[k + 4] * p[4 * (k + 4)];
      r[0][j] = down[j] * (q[0] + q[2]);
      r[1][j] = down[j] * (q[1] + q[3]);
    }
    float half[2];
    for (int e = 0; e < 2; ++e)
      half[e] = ((r[e][0] + r[e][1]) + (r[e][2] + r[e][3])) + ((r[e][4] + r[e][5]) + (r[e][6] + r[e][7]));
    colour[c] = half[0] + half[1];
  }
}
#else
// spread holds the across taps, each repeated over the four channels of a pixel.
HWY_INLINE void WindowColour(const float* HWY_RESTRICT window, ptrdiff_t stride,
                             const float* HWY_RESTRICT spread, const float* HWY_RESTRICT down,
                             float* HWY_RESTRICT colour) {
  // One four-float pixel per 128 bits: two per vector from AVX2 up, one below.
  const hn::CappedTag<float, 8> d;
  using D = decltype(d);
  constexpr size_t kLanes = hn::MaxLanes(D());
  static_assert(kLanes == 4 || kLanes == 8, "a vector holds one or two four-float pixels");
  constexpr size_t kRowVectors = 32 / kLanes, kHalves = kRowVectors / 4;
  hn::Vec<D> taps[kRowVectors], weighted[8][kHalves];
  for (size_t m = 0; m < kRowVectors; ++m) taps[m] = hn::Load(d, spread + m * kLanes);
  const float* row = window;
  for (int j = 0; j < 8; ++j, row += stride) {
    hn::Vec<D> product[kRowVectors];
    for (size_t m = 0; m < kRowVectors; ++m) product[m] = hn::Mul(taps[m], hn::LoadU(d, row + m * kLanes));
    hn::Vec<D> quarter[kRowVectors / 2];
    for (size_t m = 0; m < kRowVectors / 2; ++m) quarter[m] = hn::Add(product[m], product[m + kRowVectors / 2]);
    const auto weight = hn::Set(d, down[j]);
    for (size_t e = 0; e < kHalves; ++e) weighted[j][e] = hn::Mul(weight, hn::Add(quarter[e], quarter[e + kHalves]));
  }
  hn::Vec<D> total[kHalves];
  for (size_t e = 0; e < kHalves; ++e) {
    const auto upper = hn::Add(hn::Add(weighted[0][e], weighted[1][e]), hn::Add(weighted[2][e], weighted[3][e]));
    const auto lower = hn::Add(hn::Add(weighted[4][e], weighted[5][e]), hn::Add(weighted[6][e], weighted[7][e]));
    total[e] = hn::Add(upper, lower);
  }
  if constexpr (kLanes == 8) {
    const hn::Half<D> dh;
    hn::StoreU(hn::Add(hn::LowerHalf(dh, total[0]), hn::UpperHalf(dh, total[0])), dh, colour);
  } else {
    hn::StoreU(hn::Add(total[0], total[1]), d, colour);
  }
}
#endif

// The feather mask read four bytes at a time as 32-bit words, each word starting at most at
// total - 4; a mask of fewer than four bytes is read from a zero-padded copy in tiny.
struct FeatherMask {
  const int32_t* words;
  int side;
  int total;
};

HWY_INLINE FeatherMask FeatherMaskOf(const uint8_t* mask, int side, uint8_t* HWY_RESTRICT tiny) {
  int total = side * side;
  if (total < 4) {
    std::copy(mask, mask + std::max(total, 0), tiny);
    mask = tiny;
    total = 4;
  }
  return {reinterpret_cast<const int32_t*>(mask), side, total};
}

// The mask bytes at columns px and px + 1 of row r, 0 outside the mask.
template <class DI, class VI = hn::Vec<DI>>
HWY_INLINE void MaskBytePair(DI di, const FeatherMask& mask, VI r, VI px, VI& left, VI& right) {
  const auto zero = hn::Zero(di), one = hn::Set(di, 1), three = hn::Set(di, 3);
  const auto minusOne = hn::Set(di, -1), byte = hn::Set(di, 255), vSide = hn::Set(di, mask.side);
  const auto rowIn = hn::And(hn::Gt(r, minusOne), hn::Lt(r, vSide));
  const auto index = hn::Add(hn::Mul(r, vSide), px);
  const auto offset = hn::Min(hn::Max(index, zero), hn::Set(di, mask.total - 4));
  // Byte positions within the word; out of 0..3 only where the row or column is outside the
  // mask and the byte is dropped, but clamped so that every shift count stays valid.
  const auto shift = hn::Sub(index, offset);
  const auto word = hn::GatherOffset(di, mask.words, offset);
  const auto at0 = hn::Min(hn::Max(shift, zero), three);
  const auto at1 = hn::Min(hn::Max(hn::Add(shift, one), zero), three);
  const auto b0 = hn::And(hn::Shr(word, hn::ShiftLeft<3>(at0)), byte);
  const auto b1 = hn::And(hn::Shr(word, hn::ShiftLeft<3>(at1)), byte);
  left = hn::IfThenElseZero(hn::And(rowIn, hn::Gt(px, minusOne)), b0);
  right = hn::IfThenElseZero(hn::And(rowIn, hn::Lt(hn::Add(px, one), vSide)), b1);
}

// With the linear table (1 - p/32, p/32) every step of the float formula is exact (bytes times
// multiples of 1/32, then of 1/1024, within 18 significant bits), so whole numbers in units of
// 1/(32 * 32) give the same weight without looking taps up.
HWY_INLINE bool IsLinearTable(const float* bilinearTaps) {
  bool linear = true;
  for (int p = 0; p < paste::kPhases; ++p)
    linear = linear && bilinearTaps[2 * p] == 1.0f - p / float(paste::kPhases) &&
             bilinearTaps[2 * p + 1] == p / float(paste::kPhases);
  return linear;
}

// The positions u = rowU + colU[i], v = rowV + colV[i] of the vector starting at pixel i; lanes
// past count lie far outside every mask and are rejected.
template <class DI, class VI = hn::Vec<DI>>
HWY_INLINE void LoadPositions(DI di, const int* HWY_RESTRICT colU, const int* HWY_RESTRICT colV, int rowU,
                              int rowV, int i, int count, VI& u, VI& v) {
  const int lanes = static_cast<int>(hn::Lanes(di));
  if (i + lanes <= count) {
    u = hn::Add(hn::Set(di, rowU), hn::LoadU(di, colU + i));
    v = hn::Add(hn::Set(di, rowV), hn::LoadU(di, colV + i));
    return;
  }
  HWY_ALIGN int tailU[8], tailV[8];
  hn::Store(hn::Set(di, -(1 << 30)), di, tailU);
  hn::Store(hn::Set(di, -(1 << 30)), di, tailV);
  for (int k = 0; k < count - i; ++k) tailU[k] = rowU + colU[i + k], tailV[k] = rowV + colV[i + k];
  u = hn::Load(di, tailU);
  v = hn::Load(di, tailV);
}

// The bilinear weight of the four mask bytes in byte units, rounded to a whole number (ties to
// even), through the whole-number form of the linear table.
template <class DF, class VI>
HWY_INLINE hn::Vec<DF> LinearWeight(DF df, VI m00, VI m10, VI m01, VI m11, VI pu, VI pv) {
  const hn::Rebind<int32_t, DF> di;
  const auto phases = hn::Set(di, paste::kPhases), one = hn::Set(di, 1);
  const auto qu = hn::Sub(phases, pu), qv = hn::Sub(phases, pv);
  const auto top = hn::Add(hn::Mul(m00, qu), hn::Mul(m10, pu));
  const auto bottom = hn::Add(hn::Mul(m01, qu), hn::Mul(m11, pu));
  const auto w = hn::Add(hn::Mul(top, qv), hn::Mul(bottom, pv));
  constexpr int kUnitBits = 2 * paste::kPhaseBits;
  const auto belowHalf = hn::Set(di, (1 << (kUnitBits - 1)) - 1);
  const auto odd = hn::And(hn::ShiftRight<kUnitBits>(w), one);
  return hn::ConvertTo(df, hn::ShiftRight<kUnitBits>(hn::Add(hn::Add(w, belowHalf), odd)));
}

// The same weight through the float formula with taps looked up in any bilinear table.
template <class DF, class VI>
HWY_INLINE hn::Vec<DF> TableWeight(DF df, const float* HWY_RESTRICT bilinearTaps, VI m00, VI m10, VI m01,
                                   VI m11, VI pu, VI pv) {
  const auto one = hn::Set(hn::Rebind<int32_t, DF>(), 1);
  const auto tu = hn::ShiftLeft<1>(pu), tv = hn::ShiftLeft<1>(pv);
  const auto bx0 = hn::GatherIndex(df, bilinearTaps, tu), bx1 = hn::GatherIndex(df, bilinearTaps, hn::Add(tu, one));
  const auto by0 = hn::GatherIndex(df, bilinearTaps, tv), by1 = hn::GatherIndex(df, bilinearTaps, hn::Add(tv, one));
  const auto top = hn::Add(hn::Mul(hn::ConvertTo(df, m00), bx0), hn::Mul(hn::ConvertTo(df, m10), bx1));
  const auto bottom = hn::Add(hn::Mul(hn::ConvertTo(df, m01), bx0), hn::Mul(hn::ConvertTo(df, m11), bx1));
  return hn::Round(hn::Add(hn::Mul(top, by0), hn::Mul(bottom, by1)));
}

// Stores the weights of one vector of pixels at alpha + i and, three times each, at
// alpha3 + 3 * i (output vector m of alpha3 takes lane l from weight lane (m * lanes + l) / 3).
template <class DF>
HWY_INLINE void StoreWeights(DF df, hn::Vec<DF> weight, int i, float* HWY_RESTRICT alpha,
                             float* HWY_RESTRICT alpha3) {
  const int lanes = static_cast<int>(hn::Lanes(df));
  HWY_ALIGN int32_t spreadIndex[3][8];
  for (int m = 0; m < 3; ++m)
    for (int l = 0; l < lanes; ++l) spreadIndex[m][l] = (m * lanes + l) / 3;
  hn::Store(weight, df, alpha + i);
  for (int m = 0; m < 3; ++m)
    hn::StoreU(hn::TableLookupLanes(weight, hn::SetTableIndices(df, spreadIndex[m])), df,
               alpha3 + 3 * i + m * lanes);
}

// For count pixels from colU, colV (count at most kChunk): the source positions u = rowU + colU[i],
// v = rowV + colV[i] into us, vs, and the feather weights into alpha and, three times each, into
// alpha3: bilinear over the four mask bytes around (u >> kFracBits, v >> kFracBits) with the
// phases' bilinear taps, bytes outside the mask counting 0, rounded to a whole byte value (ties to
// even) and divided by 255; 0 for a pixel outside [-1, side) in either axis. The arrays are
// written up to count rounded up to whole vectors.
constexpr int kChunk = 64;

void FeatherWeights(const uint8_t* HWY_RESTRICT mask, int side, const float* HWY_RESTRICT bilinearTaps,
                    const int* HWY_RESTRICT colU, const int* HWY_RESTRICT colV, int rowU, int rowV,
                    int count, int* HWY_RESTRICT us, int* HWY_RESTRICT vs, float* HWY_RESTRICT alpha,
                    float* HWY_RESTRICT alpha3) {
  const hn::CappedTag<float, 8> df;
  const hn::Rebind<int32_t, decltype(df)> di;
  using VI = hn::Vec<decltype(di)>;
  const int lanes = static_cast<int>(hn::Lanes(df));
  HWY_ALIGN uint8_t tiny[4] = {};
  const FeatherMask feather = FeatherMaskOf(mask, side, tiny);
  const bool linear = IsLinearTable(bilinearTaps);
  const auto vSide = hn::Set(di, side), one = hn::Set(di, 1), phaseMask = hn::Set(di, paste::kPhaseMask);
  const auto belowLowest = hn::Set(di, -paste::kOne - 1);
  const auto scale = hn::Set(df, 255.0f);
  for (int i = 0; i < count; i += lanes) {
    VI u, v;
    LoadPositions(di, colU, colV, rowU, rowV, i, count, u, v);
    hn::Store(u, di, us + i);
    hn::Store(v, di, vs + i);
    const auto px = hn::ShiftRight<paste::kFracBits>(u), py = hn::ShiftRight<paste::kFracBits>(v);
    const auto pu = hn::And(hn::ShiftRight<paste::kPhaseShift>(u), phaseMask);
    const auto pv = hn::And(hn::ShiftRight<paste::kPhaseShift>(v), phaseMask);
    const auto accept = hn::And(hn::And(hn::Gt(u, belowLowest), hn::Gt(v, belowLowest)),
                                hn::And(hn::Lt(px, vSide), hn::Lt(py, vSide)));
    VI m00, m10, m01, m11;
    MaskBytePair(di, feather, py, px, m00, m10);
    MaskBytePair(di, feather, hn::Add(py, one), px, m01, m11);
    const auto rounded = linear ? LinearWeight(df, m00, m10, m01, m11, pu, pv)
                                : TableWeight(df, bilinearTaps, m00, m10, m01, m11, pu, pv);
    StoreWeights(df, hn::IfThenElseZero(hn::RebindMask(df, accept), hn::Div(rounded, scale)), i, alpha, alpha3);
  }
}

// out = dst * (1 - alpha) + alpha * colour, clamped to [0, 255] and truncated, for n channel bytes;
// a byte whose alpha is not above 0 is stored back unchanged.
void BlendBytes(uint8_t* HWY_RESTRICT out, const float* HWY_RESTRICT alpha,
                const float* HWY_RESTRICT colour, size_t n) {
  const hn::CappedTag<float, 8> d;
  const hn::Rebind<int32_t, decltype(d)> di;
  const hn::Rebind<uint8_t, decltype(d)> du8;
  const size_t lanes = hn::Lanes(d);
  const auto one = hn::Set(d, 1.0f), zero = hn::Zero(d), top = hn::Set(d, 255.0f);
  size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    const auto dst = hn::ConvertTo(d, hn::PromoteTo(di, hn::LoadU(du8, out + i)));
    const auto a = hn::LoadU(d, alpha + i);
    const auto blended = hn::Add(hn::Mul(dst, hn::Sub(one, a)), hn::Mul(a, hn::LoadU(d, colour + i)));
    const auto result = hn::IfThenElse(hn::Gt(a, zero), hn::Min(hn::Max(blended, zero), top), dst);
    hn::StoreU(hn::DemoteTo(du8, hn::ConvertTo(di, result)), du8, out + i);
  }
  for (; i < n; ++i) {
    if (!(alpha[i] > 0.0f)) continue;
    const float blended = out[i] * (1.0f - alpha[i]) + alpha[i] * colour[i];
    out[i] = static_cast<uint8_t>(std::min(std::max(blended, 0.0f), 255.0f));
  }
}

void PasteLanczos8Row(const float* HWY_RESTRICT crop4, int side, const uint8_t* HWY_RESTRICT mask,
                      const float* HWY_RESTRICT lanczosTaps, const float* HWY_RESTRICT bilinearTaps,
                      const int* HWY_RESTRICT colU, const int* HWY_RESTRICT colV, int rowU,
                      int rowV, int x0, int x1, uint8_t* HWY_RESTRICT rowOut) {
#if HWY_TARGET == HWY_SCALAR
  const float* spread = lanczosTaps;
  constexpr int kPhaseFloats = 8;
#else
  // Each Lanczos tap repeated over the four channels of a pixel: 32 floats per phase.
  const hn::FixedTag<float, 4> d4;
  HWY_ALIGN float spread[paste::kPhases * 32];
  for (int t = 0; t < paste::kPhases * 8; ++t) hn::Store(hn::Set(d4, lanczosTaps[t]), d4, spread + 4 * t);
  constexpr int kPhaseFloats = 32;
#endif
  // The row goes in chunks: the feather weights of the whole chunk first, then per covered
  // pixel its colour, both spread to three floats per pixel (a fourth float is written and then
  // overwritten by the next pixel), then one blend over the chunk's bytes.
  HWY_ALIGN int us[kChunk];
  HWY_ALIGN int vs[kChunk];
  HWY_ALIGN float alpha[kChunk];
  HWY_ALIGN float alpha3[3 * kChunk + 1];
  HWY_ALIGN float colour3[3 * kChunk + 1] = {};
  HWY_ALIGN float window[8 * 8 * 4];
  for (int start = x0; start <= x1; start += kChunk) {
    const int count = std::min(kChunk, x1 - start + 1);
    FeatherWeights(mask, side, bilinearTaps, colU + (start - x0), colV + (start - x0), rowU, rowV, count,
                   us, vs, alpha, alpha3);
    for (int i = 0; i < count; ++i) {
      if (!(alpha[i] > 0.0f)) continue;
      const int u = us[i], v = vs[i];
      const int px = u >> paste::kFracBits, py = v >> paste::kFracBits;
      const float* spreadU = spread + kPhaseFloats * ((u >> paste::kPhaseShift) & paste::kPhaseMask);
      const float* down = lanczosTaps + 8 * ((v >> paste::kPhaseShift) & paste::kPhaseMask);
      float* colour = colour3 + 3 * i;
      constexpr int kReach = paste::kLanczosReach;
      constexpr int kWholeWindow = kReach * paste::kOne - 1;  // px - kReach >= 0
      if (u > kWholeWindow && v > kWholeWindow && px + kReach + 1 < side && py + kReach + 1 < side) {
        WindowColour(crop4 + (static_cast<ptrdiff_t>(py - kReach) * side + (px - kReach)) * 4,
                     ptrdiff_t(side) * 4, spreadU, down, colour);
      } else {
        // Near the crop's edge: the window with zeros for the pixels outside the crop, which
        // add nothing to the sums, through the same arithmetic.
        for (int j = 0; j < 8; ++j) {
          const int sy = py - kReach + j;
          for (int k = 0; k < 8; ++k) {
            const int sx = px - kReach + k;
            const bool in = sx >= 0 && sy >= 0 && sx < side && sy < side;
            for (int c = 0; c < 4; ++c)
              window[(j * 8 + k) * 4 + c] =
                  in ? crop4[(static_cast<ptrdiff_t>(sy) * side + sx) * 4 + c] : 0.0f;
          }
        }
        WindowColour(window, 32, spreadU, down, colour);
      }
    }
    BlendBytes(rowOut + 3 * start, alpha3, colour3, size_t(3 * count));
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace le::simd
HWY_AFTER_NAMESPACE();

#endif  // LE_SIMD_PASTE_ROW_INL_H_
