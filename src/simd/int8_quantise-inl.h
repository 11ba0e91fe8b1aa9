// Per-target input side of the int8 convolution: the value range and the quantisation to unsigned
// bytes. Min, max, division and rounding to nearest even are exact per lane, so every target gives
// the same results as the scalar tail.
#if defined(LE_SIMD_INT8_QUANTISE_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LE_SIMD_INT8_QUANTISE_INL_H_
#undef LE_SIMD_INT8_QUANTISE_INL_H_
#else
#define LE_SIMD_INT8_QUANTISE_INL_H_
#endif

#include <cmath>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace le::simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void Int8RangeKernel(const float* HWY_RESTRICT x, size_t n, float* lo, float* hi) {
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  auto vlo = hn::Set(d, *lo), vhi = hn::Set(d, *hi);
  size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    const auto v = hn::LoadU(d, x + i);
    vlo = hn::Min(vlo, v);
    vhi = hn::Max(vhi, v);
  }
  float l = hn::GetLane(hn::MinOfLanes(d, vlo)), h = hn::GetLane(hn::MaxOfLanes(d, vhi));
  for (; i < n; ++i) {
    l = x[i] < l ? x[i] : l;
    h = x[i] > h ? x[i] : h;
  }
  *lo = l;
  *hi = h;
}

inline uint8_t QuantiseOne(float x, float scale, float zero) {
  const float q = std::rint(x / scale) + zero;
  return static_cast<uint8_t>(q >= 255.f ? 255.f : q > 0.f ? q : 0.f);
}

// Byte j of each quad is channel j's value; channels past the last present one hold the zero point.
void Int8QuantiseQuadsKernel(const float* const* HWY_RESTRICT planes, int channels, size_t n, float scale, float zero,
                             uint8_t* HWY_RESTRICT out) {
  const hn::ScalableTag<float> d;
  const hn::RebindToSigned<decltype(d)> di;
  const size_t lanes = hn::Lanes(d);
  const auto vs = hn::Set(d, scale), vz = hn::Set(d, zero), v0 = hn::Zero(d), v255 = hn::Set(d, 255.f);
  const auto absent = hn::Set(di, static_cast<int32_t>(zero));
  size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    auto quad = hn::Zero(di);
    for (int j = 0; j < 4; ++j) {
      auto q = absent;
      if (j < channels) {
        const auto rounded = hn::Add(hn::Round(hn::Div(hn::LoadU(d, planes[j] + i), vs)), vz);
        q = hn::ConvertTo(di, hn::Min(hn::Max(rounded, v0), v255));
      }
      quad = hn::Or(quad, hn::ShiftLeftSame(q, 8 * j));
    }
    // Highway's stores copy bytes, so writing the quads through an int32_t pointer is well defined.
    hn::StoreU(quad, di, reinterpret_cast<int32_t*>(out + 4 * i));
  }
  for (; i < n; ++i)
    for (int j = 0; j < 4; ++j)
      out[4 * i + j] = j < channels ? QuantiseOne(planes[j][i], scale, zero) : static_cast<uint8_t>(zero);
}

}  // namespace HWY_NAMESPACE
}  // namespace le::simd
HWY_AFTER_NAMESPACE();

#endif  // LE_SIMD_INT8_QUANTISE_INL_H_
