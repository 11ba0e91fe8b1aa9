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

// Mask byte at (x, y), 0 outside the side x side mask.
inline float MaskAt(const uint8_t* mask, int side, int x, int y) {
  if (x < 0 || y < 0 || x >= side || y >= side) return 0.0f;
  return static_cast<float>(mask[y * side + x]);
}

// Lanczos colour of one pixel into colour[0..2] (vector targets also write colour[3]) from an 8x8 window of four-float pixels (window
// row j starts at window + j * stride). Per window row j and channel, with across taps a:
// q_k = a[k] p[k] + a[k+4] p[k+4] (k = 0..3), h_0 = q_0 + q_2, h_1 = q_1 + q_3; then
// H_e = sum over j of down[j] h_e, from 0 in increasing j, and colour = H_0 + H_1. A window row's
// 32 floats fill 32 / lanes vectors, so this tree of additions falls onto whole vectors.
#if HWY_TARGET == HWY_SCALAR
HWY_INLINE void WindowColour(const float* HWY_RESTRICT window, ptrdiff_t stride,
                             const float* HWY_RESTRICT across, const float* HWY_RESTRICT down,
                             float* HWY_RESTRICT colour) {
  for (int c = 0; c < 3; ++c) {
    float total0 = 0.0f, total1 = 0.0f;
    for (int j = 0; j < 8; ++j) {
      const float* p = window + j * stride + c;
      float q[4];
      for (int k = 0; k < 4; ++k) q[k] = across[k] * p[4 * k] + across[k + 4] * p[4 * (k + 4)];
      total0 += down[j] * (q[0] + q[2]);
      total1 += down[j] * (q[1] + q[3]);
    }
    colour[c] = total0 + total1;
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
  hn::Vec<D> taps[kRowVectors], total[kHalves];
  for (size_t m = 0; m < kRowVectors; ++m) taps[m] = hn::Load(d, spread + m * kLanes);
  for (size_t e = 0; e < kHalves; ++e) total[e] = hn::Zero(d);
  for (int j = 0; j < 8; ++j) {
    const float* row = window + j * stride;
    hn::Vec<D> product[kRowVectors];
    for (size_t m = 0; m < kRowVectors; ++m) product[m] = hn::Mul(taps[m], hn::LoadU(d, row + m * kLanes));
    hn::Vec<D> quarter[kRowVectors / 2];
    for (size_t m = 0; m < kRowVectors / 2; ++m) quarter[m] = hn::Add(product[m], product[m + kRowVectors / 2]);
    const auto weight = hn::Set(d, down[j]);
    for (size_t e = 0; e < kHalves; ++e)
      total[e] = hn::Add(total[e], hn::Mul(weight, hn::Add(quarter[e], quarter[e + kHalves])));
  }
  if constexpr (kLanes == 8) {
    const hn::Half<D> dh;
    hn::StoreU(hn::Add(hn::LowerHalf(dh, total[0]), hn::UpperHalf(dh, total[0])), dh, colour);
  } else {
    hn::StoreU(hn::Add(total[0], total[1]), d, colour);
  }
}
#endif

// The feather weight at (px, py) with phases fu, fv: bilinear over the four mask bytes around it
// (outside counts 0), rounded to a whole byte value, over 255.
HWY_INLINE float MaskAlpha(const uint8_t* HWY_RESTRICT mask, int side, int px, int py,
                           const float* HWY_RESTRICT bx, const float* HWY_RESTRICT by) {
  float m00, m10, m01, m11;
  if (px >= 0 && py >= 0 && px + 1 < side && py + 1 < side) {
    const uint8_t* m = mask + py * side + px;
    m00 = m[0], m10 = m[1], m01 = m[side], m11 = m[side + 1];
  } else {
    m00 = MaskAt(mask, side, px, py), m10 = MaskAt(mask, side, px + 1, py);
    m01 = MaskAt(mask, side, px, py + 1), m11 = MaskAt(mask, side, px + 1, py + 1);
  }
  const float top = m00 * bx[0] + m10 * bx[1];
  const float bottom = m01 * bx[0] + m11 * bx[1];
  return std::nearbyint(top * by[0] + bottom * by[1]) / 255.0f;
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
  HWY_ALIGN float spread[32 * 32];
  for (int t = 0; t < 32 * 8; ++t) hn::Store(hn::Set(d4, lanczosTaps[t]), d4, spread + 4 * t);
  constexpr int kPhaseFloats = 32;
#endif
  // The row goes in chunks: per pixel its weight and colour into three floats each (a fourth
  // float is written and then overwritten by the next pixel), then one blend over the chunk.
  constexpr int kChunk = 64;
  HWY_ALIGN float alpha3[3 * kChunk + 1];
  HWY_ALIGN float colour3[3 * kChunk + 1] = {};
  HWY_ALIGN float window[8 * 8 * 4];
  for (int start = x0; start <= x1; start += kChunk) {
    const int count = std::min(kChunk, x1 - start + 1);
    for (int i = 0; i < count; ++i) {
      float* alpha = alpha3 + 3 * i;
      float* colour = colour3 + 3 * i;
      alpha[0] = alpha[1] = alpha[2] = 0.0f;
      const int u = rowU + colU[start + i - x0];
      const int v = rowV + colV[start + i - x0];
      const int px = u >> 10;
      const int py = v >> 10;
      if (u < -1024 || v < -1024 || px >= side || py >= side) continue;
      const int fu = (u >> 5) & 31;
      const int fv = (v >> 5) & 31;
      const float a = MaskAlpha(mask, side, px, py, bilinearTaps + 2 * fu, bilinearTaps + 2 * fv);
      if (!(a > 0.0f)) continue;
      alpha[0] = alpha[1] = alpha[2] = a;

      const float* spreadU = spread + kPhaseFloats * fu;
      const float* down = lanczosTaps + 8 * fv;
      if (u > 3071 && v > 3071 && px + 4 < side && py + 4 < side) {
        WindowColour(crop4 + (static_cast<ptrdiff_t>(py - 3) * side + (px - 3)) * 4,
                     ptrdiff_t(side) * 4, spreadU, down, colour);
      } else {
        // Near the crop's edge: the window with zeros for the pixels outside the crop, which
        // add nothing to the sums, through the same arithmetic.
        for (int j = 0; j < 8; ++j) {
          const int sy = py - 3 + j;
          for (int k = 0; k < 8; ++k) {
            const int sx = px - 3 + k;
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
