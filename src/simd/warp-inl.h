// Per-target body of the director's warp: the curvature planes of a 3-channel source, and the
// curvature-corrected bilinear gather of those planes at a sampling grid (bilinear, border,
// align_corners = 0). Every value is formed by the same sequence of single-rounded operations on
// every target and lane count, so all targets give the same bits.
#if defined(LE_SIMD_WARP_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LE_SIMD_WARP_INL_H_
#undef LE_SIMD_WARP_INL_H_
#else
#define LE_SIMD_WARP_INL_H_
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <hwy/highway.h>

#include "simd/warp_planes.h"

HWY_BEFORE_NAMESPACE();
namespace le::simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Pixels of a row handled per step: the step's intermediate values live on the stack. A multiple
// of every target's float lane count.
constexpr size_t kWarpChunk = 64;

// Runs body(d, i) over i in [0, n): whole vectors first, then one lane at a time through the same
// body, so the tail uses the vector body's formula.
template <class Body>
HWY_INLINE void InSteps(size_t n, const Body& body) {
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  size_t i = 0;
  for (; i + lanes <= n; i += lanes) body(d, i);
  const hn::CappedTag<float, 1> d1;
  for (; i < n; ++i) body(d1, i);
}

// (before - 2 centre) + after.
template <class D>
HWY_INLINE hn::Vec<D> SecondDiff(D d, hn::Vec<D> before, hn::Vec<D> centre, hn::Vec<D> after) {
  return hn::Add(hn::Sub(before, hn::Mul(hn::Set(d, 2.0f), centre)), after);
}

// ------------------------------ planes

// The centre row's values and their vertical second differences at the columns
// clamp(x0 - 1 + j, 0, W - 1) for j in [0, n + 2): the chunk [x0, x0 + n) and one column each side.
struct ColumnStrip {
  HWY_ALIGN float value[kWarpChunk + 2];
  HWY_ALIGN float dyy[kWarpChunk + 2];
};

template <class D>
HWY_INLINE void StripColumns(D d, const float* up, const float* centre, const float* down,
                             size_t column, size_t j, ColumnStrip& strip) {
  const auto c = hn::LoadU(d, centre + column);
  hn::StoreU(c, d, strip.value + j);
  hn::StoreU(SecondDiff(d, hn::LoadU(d, up + column), c, hn::LoadU(d, down + column)), d,
             strip.dyy + j);
}

// Planes of one channel for the columns [x0, x0 + n) of one row, as [pixel][kind] groups of four.
void PlanesChunk(const float* up, const float* centre, const float* down, size_t width, size_t x0,
                 size_t n, float* grouped) {
  ColumnStrip strip;
  const hn::CappedTag<float, 1> d1;
  StripColumns(d1, up, centre, down, x0 == 0 ? 0 : x0 - 1, 0, strip);
  InSteps(n, [&](auto d, size_t i) { StripColumns(d, up, centre, down, x0 + i, i + 1, strip); });
  StripColumns(d1, up, centre, down, std::min(x0 + n, width - 1), n + 1, strip);
  InSteps(n, [&](auto d, size_t i) {
    const auto left = hn::LoadU(d, strip.value + i), mid = hn::LoadU(d, strip.value + i + 1);
    const auto right = hn::LoadU(d, strip.value + i + 2);
    const auto dyyLeft = hn::LoadU(d, strip.dyy + i), dyyMid = hn::LoadU(d, strip.dyy + i + 1);
    const auto dyyRight = hn::LoadU(d, strip.dyy + i + 2);
    hn::StoreInterleaved4(mid, SecondDiff(d, left, mid, right), dyyMid,
                          SecondDiff(d, dyyLeft, dyyMid, dyyRight), d, grouped + kWarpKinds * i);
  });
}

// Rows [row0, row1) of the planes of the [3][H][W] source; planes points at row row0's planes.
void WarpPlanesRows(const float* HWY_RESTRICT src, size_t width, size_t height, size_t row0,
                    size_t row1, float* HWY_RESTRICT planes) {
  HWY_ALIGN float grouped[kWarpChannels][kWarpChunk * kWarpKinds];
  for (size_t y = row0; y < row1; ++y) {
    float* rowPlanes = planes + (y - row0) * width * kWarpPixelFloats;
    for (size_t x0 = 0; x0 < width; x0 += kWarpChunk) {
      const size_t n = std::min(kWarpChunk, width - x0);
      for (size_t c = 0; c < kWarpChannels; ++c) {
        const float* channel = src + c * height * width;
        PlanesChunk(channel + (y == 0 ? 0 : y - 1) * width, channel + y * width,
                    channel + std::min(y + 1, height - 1) * width, width, x0, n, grouped[c]);
      }
      for (size_t i = 0; i < n; ++i)
        for (size_t c = 0; c < kWarpChannels; ++c)
          std::copy_n(grouped[c] + kWarpKinds * i, kWarpKinds,
                      rowPlanes + (x0 + i) * kWarpPixelFloats + c * kWarpKinds);
    }
  }
}

// ------------------------------ gather

// ((1 + g) size - 1) / 2: the sample position along an axis of size pixels (align_corners = 0).
template <class D>
HWY_INLINE hn::Vec<D> Position(D d, hn::Vec<D> g, float size) {
  const auto one = hn::Set(d, 1.0f);
  return hn::Mul(hn::Sub(hn::Mul(hn::Add(one, g), hn::Set(d, size)), one), hn::Set(d, 0.5f));
}

// (1 - t) t / 2 with t the fractional part of the unclamped position.
template <class D>
HWY_INLINE hn::Vec<D> CurvatureWeight(D d, hn::Vec<D> position) {
  const auto t = hn::Sub(position, hn::Floor(position));
  return hn::Mul(hn::Mul(hn::Sub(hn::Set(d, 1.0f), t), t), hn::Set(d, 0.5f));
}

// Border padding: the position clamped to [0, last] (a NaN to 0), its floor as the first index
// lo, the second index min(lo + 1, last), and the fraction. Indices are then limited to the
// window [first, end) of rows the caller holds planes for and made relative to it.
template <class D>
HWY_INLINE hn::Vec<D> BorderTaps(D d, hn::Vec<D> position, size_t last, size_t first, size_t end,
                                 int32_t* lo, int32_t* hi) {
  const hn::RebindToSigned<D> di;
  const auto zero = hn::Zero(d), top = hn::Set(d, static_cast<float>(last));
  auto clamped = hn::IfThenElse(hn::Ge(position, zero), position, zero);
  clamped = hn::IfThenElse(hn::Le(clamped, top), clamped, top);
  const auto floor = hn::Floor(clamped);
  const auto index = hn::ConvertTo(di, floor);
  const auto lastIndex = hn::Set(di, static_cast<int32_t>(last));
  const auto windowFirst = hn::Set(di, static_cast<int32_t>(first));
  const auto windowLast = hn::Set(di, static_cast<int32_t>(end - 1));
  const auto inWindow = [&](auto i) {
    return hn::Sub(hn::Min(hn::Max(i, windowFirst), windowLast), windowFirst);
  };
  hn::StoreU(inWindow(index), di, lo);
  hn::StoreU(inWindow(hn::Min(hn::Add(index, hn::Set(di, 1)), lastIndex)), di, hi);
  return hn::Sub(clamped, floor);
}

// Where and how strongly one chunk of output pixels samples the planes.
struct GatherTaps {
  HWY_ALIGN int32_t x0[kWarpChunk];
  HWY_ALIGN int32_t x1[kWarpChunk];
  HWY_ALIGN int32_t y0[kWarpChunk];
  HWY_ALIGN int32_t y1[kWarpChunk];
  HWY_ALIGN float w00[kWarpChunk];
  HWY_ALIGN float w10[kWarpChunk];
  HWY_ALIGN float w01[kWarpChunk];
  HWY_ALIGN float w11[kWarpChunk];
  HWY_ALIGN float a[kWarpChunk];
  HWY_ALIGN float b[kWarpChunk];
  HWY_ALIGN float ab[kWarpChunk];
};

// The source extent and the window of plane rows [first, end) the planes pointer starts at.
struct GatherExtent {
  size_t width, height, first, end;
};

template <class D>
HWY_INLINE void TapsStep(D d, const float* grid, const GatherExtent& e, size_t i, GatherTaps& t) {
  hn::Vec<D> gx, gy;
  hn::LoadInterleaved2(d, grid + 2 * i, gx, gy);
  const auto x = Position(d, gx, static_cast<float>(e.width));
  const auto y = Position(d, gy, static_cast<float>(e.height));
  const auto a = CurvatureWeight(d, x), b = CurvatureWeight(d, y);
  hn::StoreU(a, d, t.a + i);
  hn::StoreU(b, d, t.b + i);
  hn::StoreU(hn::Mul(a, b), d, t.ab + i);
  const auto fx = BorderTaps(d, x, e.width - 1, 0, e.width, t.x0 + i, t.x1 + i);
  const auto fy = BorderTaps(d, y, e.height - 1, e.first, e.end, t.y0 + i, t.y1 + i);
  const auto one = hn::Set(d, 1.0f);
  const auto gx0 = hn::Sub(one, fx), gy0 = hn::Sub(one, fy);
  hn::StoreU(hn::Mul(gx0, gy0), d, t.w00 + i);
  hn::StoreU(hn::Mul(fx, gy0), d, t.w10 + i);
  hn::StoreU(hn::Mul(gx0, fy), d, t.w01 + i);
  hn::StoreU(hn::Mul(fx, fy), d, t.w11 + i);
}

// ((w00 P00 + w10 P10) + w01 P01) + w11 P11 for the four kinds of every channel of pixel i,
// stored as [channel][pixel][kind].
void BlendCorners(const float* planes, const GatherExtent& e, const GatherTaps& t, size_t i,
                  float (*sampled)[kWarpChunk * kWarpKinds]) {
  const hn::CappedTag<float, kWarpKinds> d;
  const size_t rowFloats = e.width * kWarpPixelFloats;
  const float* row0 = planes + static_cast<size_t>(t.y0[i]) * rowFloats;
  const float* row1 = planes + static_cast<size_t>(t.y1[i]) * rowFloats;
  const float* p00 = row0 + static_cast<size_t>(t.x0[i]) * kWarpPixelFloats;
  const float* p10 = row0 + static_cast<size_t>(t.x1[i]) * kWarpPixelFloats;
  const float* p01 = row1 + static_cast<size_t>(t.x0[i]) * kWarpPixelFloats;
  const float* p11 = row1 + static_cast<size_t>(t.x1[i]) * kWarpPixelFloats;
  const auto w00 = hn::Set(d, t.w00[i]), w10 = hn::Set(d, t.w10[i]);
  const auto w01 = hn::Set(d, t.w01[i]), w11 = hn::Set(d, t.w11[i]);
  for (size_t c = 0; c < kWarpChannels; ++c)
    for (size_t k = 0; k < kWarpKinds; k += hn::Lanes(d)) {
      const size_t at = c * kWarpKinds + k;
      auto s = hn::Mul(w00, hn::LoadU(d, p00 + at));
      s = hn::Add(s, hn::Mul(w10, hn::LoadU(d, p10 + at)));
      s = hn::Add(s, hn::Mul(w01, hn::LoadU(d, p01 + at)));
      s = hn::Add(s, hn::Mul(w11, hn::LoadU(d, p11 + at)));
      hn::StoreU(s, d, sampled[c] + kWarpKinds * i + k);
    }
}

// out = ((s0 - a s1) - b s2) + (a b) s3 for one channel of the chunk.
void Recombine(const float* sampled, const GatherTaps& t, size_t n, float* out) {
  InSteps(n, [&](auto d, size_t i) {
    hn::Vec<decltype(d)> s0, s1, s2, s3;
    hn::LoadInterleaved4(d, sampled + kWarpKinds * i, s0, s1, s2, s3);
    auto v = hn::Sub(s0, hn::Mul(hn::LoadU(d, t.a + i), s1));
    v = hn::Sub(v, hn::Mul(hn::LoadU(d, t.b + i), s2));
    hn::StoreU(hn::Add(v, hn::Mul(hn::LoadU(d, t.ab + i), s3)), d, out + i);
  });
}

// Output rows [row0, row1) of the [3][H][W] output for the [H][W][2] grid; planes points at the
// planes of source row first and holds the rows [first, end).
void WarpGatherRows(const float* HWY_RESTRICT planes, size_t first, size_t end,
                    const float* HWY_RESTRICT grid, size_t width, size_t height, size_t row0,
                    size_t row1, float* HWY_RESTRICT out) {
  const GatherExtent e{width, height, first, end};
  GatherTaps taps;
  HWY_ALIGN float sampled[kWarpChannels][kWarpChunk * kWarpKinds];
  for (size_t y = row0; y < row1; ++y) {
    for (size_t x0 = 0; x0 < width; x0 += kWarpChunk) {
      const size_t n = std::min(kWarpChunk, width - x0);
      const float* chunkGrid = grid + (y * width + x0) * 2;
      InSteps(n, [&](auto d, size_t i) { TapsStep(d, chunkGrid, e, i, taps); });
      for (size_t i = 0; i < n; ++i) BlendCorners(planes, e, taps, i, sampled);
      for (size_t c = 0; c < kWarpChannels; ++c)
        Recombine(sampled[c], taps, n, out + (c * height + y) * width + x0);
    }
  }
}

// The source rows [*first, *last] that output rows [row0, row1) read through the grid.
void WarpSourceRows(const float* HWY_RESTRICT grid, size_t width, size_t height, size_t row0,
                    size_t row1, size_t* first, size_t* last) {
  const GatherExtent e{width, height, 0, height};
  GatherTaps taps;
  size_t lo = height - 1, hi = 0;
  for (size_t y = row0; y < row1; ++y) {
    for (size_t x0 = 0; x0 < width; x0 += kWarpChunk) {
      const size_t n = std::min(kWarpChunk, width - x0);
      const float* chunkGrid = grid + (y * width + x0) * 2;
      InSteps(n, [&](auto d, size_t i) { TapsStep(d, chunkGrid, e, i, taps); });
      for (size_t i = 0; i < n; ++i) {
        lo = std::min(lo, static_cast<size_t>(taps.y0[i]));
        hi = std::max(hi, static_cast<size_t>(taps.y1[i]));
      }
    }
  }
  *first = lo;
  *last = hi;
}

// The target this translation unit was compiled for, to name the body that serves.
int64_t WarpTarget() { return HWY_TARGET; }

}  // namespace HWY_NAMESPACE
}  // namespace le::simd
HWY_AFTER_NAMESPACE();

#endif  // LE_SIMD_WARP_INL_H_
