// Per-target Lanczos paste of one destination row: each covered pixel is blended with the 8x8
// Lanczos resampling of the sharpened crop, weighted by the bilinear feather mask.
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

// Mask byte at (x, y), 0 outside the side x side mask.
inline float MaskAt(const uint8_t* mask, int side, int x, int y) {
  if (x < 0 || y < 0 || x >= side || y >= side) return 0.0f;
  return static_cast<float>(mask[y * side + x]);
}

// The Lanczos sum of the channels at crop4 + c (Lanes(d) of them, all four on vector targets):
// per source row, taps across in column order, then rows weighted down in row order, both
// sums starting from 0. Rows and columns outside [rowLo, rowHi) x [colLo, colHi) are left out;
// the fully-inside caller passes the whole window and the compiler drops the checks.
template <class D>
HWY_INLINE hn::Vec<D> LanczosSum(D d, const float* HWY_RESTRICT crop4, int side, int px, int py,
                                 const float* HWY_RESTRICT across,
                                 const float* HWY_RESTRICT down, int colLo, int colHi, int rowLo,
                                 int rowHi) {
  auto total = hn::Zero(d);
  for (int j = rowLo; j < rowHi; ++j) {
    const ptrdiff_t row = static_cast<ptrdiff_t>(py - 3 + j) * side + (px - 3);
    auto sum = hn::Zero(d);
    for (int i = colLo; i < colHi; ++i) {
      const auto pixel = hn::LoadU(d, crop4 + (row + i) * 4);
      sum = hn::Add(sum, hn::Mul(hn::Set(d, across[i]), pixel));
    }
    total = hn::Add(total, hn::Mul(hn::Set(d, down[j]), sum));
  }
  return total;
}

void PasteLanczos8Row(const float* HWY_RESTRICT crop4, int side, const uint8_t* HWY_RESTRICT mask,
                      const float* HWY_RESTRICT lanczosTaps, const float* HWY_RESTRICT bilinearTaps,
                      const int* HWY_RESTRICT colU, const int* HWY_RESTRICT colV, int rowU,
                      int rowV, int x0, int x1, uint8_t* HWY_RESTRICT rowOut) {
  // Four channels per pixel on vector targets; one channel at a time on the scalar fallback.
  const hn::CappedTag<float, 4> d;
  const size_t lanes = hn::Lanes(d);
  HWY_ALIGN float colour[4];
  for (int x = x0; x <= x1; ++x) {
    const int u = rowU + colU[x - x0];
    const int v = rowV + colV[x - x0];
    const int px = u >> 10;
    const int py = v >> 10;
    if (u < -1024 || v < -1024 || px >= side || py >= side) continue;
    const int fu = (u >> 5) & 31;
    const int fv = (v >> 5) & 31;

    const float* bx = bilinearTaps + 2 * fu;
    const float* by = bilinearTaps + 2 * fv;
    const float top = MaskAt(mask, side, px, py) * bx[0] + MaskAt(mask, side, px + 1, py) * bx[1];
    const float bottom =
        MaskAt(mask, side, px, py + 1) * bx[0] + MaskAt(mask, side, px + 1, py + 1) * bx[1];
    const float alpha = std::nearbyint(top * by[0] + bottom * by[1]) / 255.0f;
    if (!(alpha > 0.0f)) continue;

    const float* across = lanczosTaps + 8 * fu;
    const float* down = lanczosTaps + 8 * fv;
    const bool inside = u > 3071 && v > 3071 && px + 4 < side && py + 4 < side;
    for (size_t c = 0; c < 3; c += lanes) {
      const auto sum =
          inside ? LanczosSum(d, crop4 + c, side, px, py, across, down, 0, 8, 0, 8)
                 : LanczosSum(d, crop4 + c, side, px, py, across, down, std::max(0, 3 - px),
                              std::min(8, side + 3 - px), std::max(0, 3 - py),
                              std::min(8, side + 3 - py));
      hn::StoreU(sum, d, colour + c);
    }
    uint8_t* out = rowOut + 3 * x;
    for (int c = 0; c < 3; ++c) {
      const float blended = out[c] * (1.0f - alpha) + alpha * colour[c];
      out[c] = static_cast<uint8_t>(std::min(std::max(blended, 0.0f), 255.0f));
    }
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace le::simd
HWY_AFTER_NAMESPACE();

#endif  // LE_SIMD_PASTE_ROW_INL_H_
