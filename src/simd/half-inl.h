// Per-target binary16 conversions on 32-bit lanes, shared by the kernels. Targets with F16C use
// the hardware conversions; the others use integer code that produces the same bits (Highway's
// own emulation truncates and loses infinities, so it is not used).
#if defined(LE_SIMD_HALF_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LE_SIMD_HALF_INL_H_
#undef LE_SIMD_HALF_INL_H_
#else
#define LE_SIMD_HALF_INL_H_
#endif

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace le::simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX2
#define LE_SIMD_HARDWARE_F16 1
#else
#define LE_SIMD_HARDWARE_F16 0
#endif

#if !LE_SIMD_HARDWARE_F16
// Half bits in 32-bit lanes to floats.
template <class DF, class VU>
HWY_INLINE hn::Vec<DF> HalfBitsToF32(DF df, VU h) {
  const hn::RebindToUnsigned<DF> du;
  const hn::RebindToSigned<DF> di;
  const auto sign = hn::ShiftLeft<16>(hn::And(h, hn::Set(du, 0x8000u)));
  const auto magnitude = hn::And(h, hn::Set(du, 0x7FFFu));
  const auto exponent = hn::And(magnitude, hn::Set(du, 0x7C00u));
  const auto shifted = hn::ShiftLeft<13>(magnitude);
  // Normal: rebias the exponent by 127 - 15; infinity and NaN: exponent 31 becomes 255.
  const auto normal = hn::Add(shifted, hn::Set(du, 112u << 23));
  const auto special = hn::Add(shifted, hn::Set(du, 224u << 23));
  // Zero and subnormal: mantissa * 2^-24, exact in float.
  const auto tiny = hn::BitCast(
      du, hn::Mul(hn::ConvertTo(df, hn::BitCast(di, magnitude)), hn::Set(df, 0x1p-24f)));
  auto bits = hn::IfThenElse(hn::Eq(exponent, hn::Zero(du)), tiny, normal);
  bits = hn::IfThenElse(hn::Eq(exponent, hn::Set(du, 0x7C00u)), special, bits);
  return hn::BitCast(df, hn::Or(bits, sign));
}

// Floats to half bits in 32-bit lanes, rounded to nearest with ties to even.
template <class DF>
HWY_INLINE hn::Vec<hn::RebindToUnsigned<DF>> F32ToHalfBits(DF df, hn::Vec<DF> v) {
  const hn::RebindToUnsigned<DF> du;
  const hn::RebindToSigned<DF> di;
  const auto bits = hn::BitCast(du, v);
  const auto sign = hn::ShiftRight<16>(hn::And(bits, hn::Set(du, 0x80000000u)));
  const auto magnitude = hn::And(bits, hn::Set(du, 0x7FFFFFFFu));
  const auto smag = hn::BitCast(di, magnitude);
  // Below 2^-14: adding 0.5 leaves the subnormal count in the low mantissa bits, rounded to
  // nearest even by the addition itself.
  const auto tiny = hn::Sub(
      hn::BitCast(du, hn::Add(hn::BitCast(df, magnitude), hn::Set(df, 0.5f))),
      hn::Set(du, 0x3F000000u));
  // Normal: rebias and round the 13 dropped bits to nearest even; a carry bumps the exponent,
  // up to infinity from 65520 on.
  const auto odd = hn::And(hn::ShiftRight<13>(magnitude), hn::Set(du, 1u));
  const auto normal =
      hn::ShiftRight<13>(hn::Add(hn::Add(magnitude, hn::Set(du, 0xC8000FFFu)), odd));
  // NaN: quiet bit set, upper mantissa bits kept, as the F16C instructions do.
  const auto nan = hn::Or(hn::Set(du, 0x7E00u),
                          hn::And(hn::ShiftRight<13>(magnitude), hn::Set(du, 0x3FFu)));
  auto half = hn::IfThenElse(hn::RebindMask(du, hn::Lt(smag, hn::Set(di, 0x38800000))), tiny,
                             normal);
  half = hn::IfThenElse(hn::RebindMask(du, hn::Gt(smag, hn::Set(di, 0x477FFFFF))),
                        hn::Set(du, 0x7C00u), half);
  half = hn::IfThenElse(hn::RebindMask(du, hn::Gt(smag, hn::Set(di, 0x7F800000))), nan, half);
  return hn::Or(half, sign);
}
#endif

// Loads Lanes(df) halves and widens them.
template <class DF>
HWY_INLINE hn::Vec<DF> LoadF16(DF df, const uint16_t* HWY_RESTRICT src) {
  const hn::Rebind<uint16_t, DF> du16;
#if LE_SIMD_HARDWARE_F16
  const hn::Rebind<hwy::float16_t, DF> df16;
  const hn::RebindToUnsigned<DF> du;
  const auto h = hn::LoadU(du16, src);
  const auto wide = hn::PromoteTo(df, hn::BitCast(df16, h));
  // NaNs are rare: one compare finds that there is nothing to repair.
  if (HWY_LIKELY(hn::AllFalse(df, hn::IsNaN(wide)))) return wide;
  // The hardware sets the quiet bit of a signalling NaN; put the half's own bit back so that
  // every payload widens unchanged.
  const auto h32 = hn::PromoteTo(du, h);
  const auto signalling = hn::Eq(hn::And(h32, hn::Set(du, 0x7E00u)), hn::Set(du, 0x7C00u));
  const auto quiet = hn::IfThenElseZero(signalling, hn::Set(du, 0x00400000u));
  // Only NaN lanes can differ: an infinity has no quiet bit set by the hardware to clear.
  return hn::BitCast(df, hn::AndNot(quiet, hn::BitCast(du, wide)));
#else
  const hn::RebindToUnsigned<DF> du;
  return HalfBitsToF32(df, hn::PromoteTo(du, hn::LoadU(du16, src)));
#endif
}

// Rounds Lanes(df) floats to halves and stores them.
template <class DF>
HWY_INLINE void StoreF16(DF df, hn::Vec<DF> v, uint16_t* HWY_RESTRICT dst) {
  const hn::Rebind<uint16_t, DF> du16;
#if LE_SIMD_HARDWARE_F16
  const hn::Rebind<hwy::float16_t, DF> df16;
  hn::StoreU(hn::BitCast(du16, hn::DemoteTo(df16, v)), du16, dst);
#else
  const hn::RebindToSigned<DF> di;
  hn::StoreU(hn::DemoteTo(du16, hn::BitCast(di, F32ToHalfBits(df, v))), du16, dst);
#endif
}

// v rounded to a half and widened back.
template <class DF>
HWY_INLINE hn::Vec<DF> RoundToF16(DF df, hn::Vec<DF> v) {
#if LE_SIMD_HARDWARE_F16
  const hn::Rebind<hwy::float16_t, DF> df16;
  return hn::PromoteTo(df, hn::DemoteTo(df16, v));
#else
  return HalfBitsToF32(df, F32ToHalfBits(df, v));
#endif
}

#undef LE_SIMD_HARDWARE_F16

}  // namespace HWY_NAMESPACE
}  // namespace le::simd
HWY_AFTER_NAMESPACE();

#endif  // LE_SIMD_HALF_INL_H_
