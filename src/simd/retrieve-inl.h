// Per-target retrieval distances: weighted mean absolute differences of two three-plane
// binary16 images, computed in half-precision steps and summed in pixel order.
#if defined(LE_SIMD_RETRIEVE_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LE_SIMD_RETRIEVE_INL_H_
#undef LE_SIMD_RETRIEVE_INL_H_
#else
#define LE_SIMD_RETRIEVE_INL_H_
#endif

#include <hwy/highway.h>

#include "simd/half-inl.h"

HWY_BEFORE_NAMESPACE();
namespace le::simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// m = h((|h(a0 - b0)| + |h(a1 - b1)|) + |h(a2 - b2)|) / 3) for the pixels at a + i, b + i.
template <class D>
HWY_INLINE hn::Vec<D> MeanAbsDiff(D d, const uint16_t* HWY_RESTRICT a,
                                  const uint16_t* HWY_RESTRICT b, size_t stride, size_t i) {
  auto sum = hn::Zero(d);
  for (size_t c = 0; c < 3; ++c) {
    const auto delta =
        RoundToF16(d, hn::Sub(LoadF16(d, a + c * stride + i), LoadF16(d, b + c * stride + i)));
    sum = c == 0 ? hn::Abs(delta) : hn::Add(sum, hn::Abs(delta));
  }
  return RoundToF16(d, hn::Div(sum, hn::Set(d, 3.0f)));
}

// Sums term(d, i) over [begin, end) one value at a time in increasing i, so that every vector
// width gives the same float.
template <class Term>
HWY_INLINE float SumInOrder(size_t begin, size_t end, const Term& term) {
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  HWY_ALIGN float terms[hn::MaxLanes(d)];
  float total = 0.0f;
  size_t i = begin;
  for (; i + lanes <= end; i += lanes) {
    hn::Store(term(d, i), d, terms);
    for (size_t j = 0; j < lanes; ++j) total += terms[j];
  }
  const hn::CappedTag<float, 1> d1;
  for (; i < end; ++i) total += hn::GetLane(term(d1, i));
  return total;
}

float RetrieveTermExactRange(const uint16_t* HWY_RESTRICT a, const uint16_t* HWY_RESTRICT b,
                             const float* HWY_RESTRICT w, size_t stride, size_t begin,
                             size_t end) {
  return SumInOrder(begin, end, [&](auto d, size_t i) {
    const auto weight = hn::LoadU(d, w + i);
    // A pixel of weight 0 adds exactly 0, even where its distance is not finite.
    return hn::IfThenZeroElse(hn::Eq(weight, hn::Zero(d)),
                              hn::Mul(weight, MeanAbsDiff(d, a, b, stride, i)));
  });
}

float RetrieveTermExact(const uint16_t* HWY_RESTRICT a, const uint16_t* HWY_RESTRICT b,
                        const float* HWY_RESTRICT w, size_t n) {
  return RetrieveTermExactRange(a, b, w, n, 0, n);
}

float RetrieveTermPooled(const uint16_t* HWY_RESTRICT a, const uint16_t* HWY_RESTRICT b,
                         const uint16_t* HWY_RESTRICT w, size_t n) {
  return SumInOrder(0, n, [&](auto d, size_t i) {
    return RoundToF16(d, hn::Mul(MeanAbsDiff(d, a, b, n, i), LoadF16(d, w + i)));
  });
}

}  // namespace HWY_NAMESPACE
}  // namespace le::simd
HWY_AFTER_NAMESPACE();

#endif  // LE_SIMD_RETRIEVE_INL_H_
