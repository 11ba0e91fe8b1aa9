// Per-target element-wise conversions: binary16 widening and rounding, the half-rounded product,
// and interleaved RGB bytes to binary16 planes.
#if defined(LE_SIMD_CONVERT_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LE_SIMD_CONVERT_INL_H_
#undef LE_SIMD_CONVERT_INL_H_
#else
#define LE_SIMD_CONVERT_INL_H_
#endif

#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include <cstdint>

#include "simd/half-inl.h"

HWY_BEFORE_NAMESPACE();
namespace le::simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Widened outputs larger than this are written with streaming stores. They could not stay in the
// cache until they are read anyway; bypassing it saves reading every destination line before it
// is overwritten and keeps the source and the rest of the cache in place.
constexpr size_t kStreamingBytes = size_t{8} << 20;

// Runs step(d, i) over [begin, n): full vectors first, then one lane at a time with the same code.
template <class T, class Step>
HWY_INLINE void ForEachBlock(size_t begin, size_t n, const Step& step) {
  const hn::ScalableTag<T> d;
  const size_t lanes = hn::Lanes(d);
  size_t i = begin;
  for (; i + lanes <= n; i += lanes) step(d, i);
  const hn::CappedTag<T, 1> d1;
  for (; i < n; ++i) step(d1, i);
}

void F16ToF32(const uint16_t* HWY_RESTRICT src, float* HWY_RESTRICT dst, size_t n) {
  const auto store = [&](auto d, size_t i) { hn::StoreU(LoadF16(d, src + i), d, dst + i); };
  size_t i = 0;
  if (n * sizeof(float) > kStreamingBytes) {
    const hn::ScalableTag<float> d;
    const size_t lanes = hn::Lanes(d);
    const hn::CappedTag<float, 1> d1;
    // Streaming stores need whole aligned vectors.
    for (; i < n && reinterpret_cast<uintptr_t>(dst + i) % (lanes * sizeof(float)) != 0; ++i) {
      store(d1, i);
    }
    for (; i + lanes <= n; i += lanes) hn::Stream(LoadF16(d, src + i), d, dst + i);
    hwy::FlushStream();
  }
  ForEachBlock<float>(i, n, store);
}

void F32ToF16(const float* HWY_RESTRICT src, uint16_t* HWY_RESTRICT dst, size_t n) {
  ForEachBlock<float>(0, n, [&](auto d, size_t i) { StoreF16(d, hn::LoadU(d, src + i), dst + i); });
}

void RoundF16Mul(const float* HWY_RESTRICT a, const float* HWY_RESTRICT b,
                 float* HWY_RESTRICT out, size_t n) {
  ForEachBlock<float>(0, n, [&](auto d, size_t i) {
    hn::StoreU(hn::Mul(RoundToF16(d, hn::LoadU(d, a + i)), hn::LoadU(d, b + i)), d, out + i);
  });
}

void Rgb8ToPlanarF16(const uint8_t* HWY_RESTRICT rgb, uint16_t* HWY_RESTRICT dst,
                     size_t planeStride, size_t n) {
  ForEachBlock<float>(0, n, [&](auto d, size_t i) {
    const hn::Rebind<uint8_t, decltype(d)> d8;
    const hn::RebindToSigned<decltype(d)> di;
    hn::Vec<decltype(d8)> channel[3];
    hn::LoadInterleaved3(d8, rgb + 3 * i, channel[0], channel[1], channel[2]);
    for (size_t c = 0; c < 3; ++c) {
      const auto value = hn::ConvertTo(d, hn::PromoteTo(di, channel[c]));
      StoreF16(d, hn::Div(value, hn::Set(d, 255.0f)), dst + c * planeStride + i);
    }
  });
}

}  // namespace HWY_NAMESPACE
}  // namespace le::simd
HWY_AFTER_NAMESPACE();

#endif  // LE_SIMD_CONVERT_INL_H_
