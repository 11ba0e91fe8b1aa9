// Donor placement in the teeth window and the coarse retrieval index built from the donors'
// canonical windows.
#include <algorithm>
#include <cstring>

#include "pool/pool.h"
#include "simd/simd.h"
#include "tessera/teeth_pass_impl.h"
#include "tessera/teeth_pooling.h"

namespace le::tessera {

Placement TeethPass::Impl::placement(int32_t donor, int32_t rowShift, int32_t colShift) const {
  const int32_t room = 2 * stamp.pad;
  return {std::clamp(stamp.pad + dy[size_t(donor)] - rowShift, 0, room),
          std::clamp(stamp.pad + dx[size_t(donor)] - colShift, 0, room)};
}

bool TeethPass::Impl::stored(const Placement& at, int32_t row, int32_t col) const {
  const int32_t r = row + at.oy - (stamp.pad + stamp.band_r0 - stamp.shift_margin);
  const int32_t c = col + at.ox - (stamp.pad + stamp.band_c0 - stamp.shift_margin);
  return r >= 0 && r < bandH && c >= 0 && c < bandW;
}

void TeethPass::Impl::placedRowRgb8(int32_t donor, const Placement& at, int32_t row, uint8_t* out) const {
  std::memset(out, 0, size_t(windowW) * 3);
  const int32_t r = row + at.oy - (stamp.pad + stamp.band_r0 - stamp.shift_margin);
  if (r < 0 || r >= bandH) return;
  // Window column x reads stored column x + shift; the columns that land inside the patch.
  const int32_t shift = at.ox - (stamp.pad + stamp.band_c0 - stamp.shift_margin);
  const int32_t first = std::max(0, -shift), last = std::min(windowW, bandW - shift);
  if (first >= last) return;
  const uint8_t* patch = donors.data() + size_t(donor) * bandH * bandW * 3;
  std::memcpy(out + size_t(first) * 3, patch + (size_t(r) * bandW + size_t(first + shift)) * 3,
              size_t(last - first) * 3);
}

void TeethPass::Impl::canonicalRowsF16(int32_t donor, uint16_t* out, int32_t row0, int32_t row1) const {
  row0 = std::clamp(row0, 0, windowH);
  row1 = std::clamp(row1, row0, windowH);
  const size_t pixels = windowPixels(), w = size_t(windowW);
  for (size_t c = 0; c < 3; ++c) std::fill(out + c * pixels + size_t(row0) * w, out + c * pixels + size_t(row1) * w, 0);
  const Placement canonical = placement(donor, 0, 0);
  std::vector<uint8_t> rgb(w * 3);
  for (int32_t i = row0; i < row1; ++i) {
    placedRowRgb8(donor, canonical, i, rgb.data());
    simd::rgb8ToPlanarF16(rgb.data(), out + size_t(i) * w, pixels, w);
  }
}

void TeethPass::Impl::buildIndex() {
  const size_t pixels = windowPixels(), slot = 3 * pooledPixels();
  index.assign(size_t(nDonors) * slot, 0);
  pool::parallelRange(size_t(nDonors), 1, [&](size_t begin, size_t end) {
    std::vector<uint16_t> halves(3 * pixels);
    std::vector<float> window(3 * pixels), pooled(slot);
    for (size_t d = begin; d < end; ++d) {
      canonicalRowsF16(int32_t(d), halves.data(), 0, windowH);
      simd::f16ToF32(halves.data(), window.data(), halves.size());
      averagePool(window.data(), 3, windowH, windowW, kIndexPooling, pooled.data());
      simd::f32ToF16(pooled.data(), index.data() + d * slot, slot);
    }
  });
}

}  // namespace le::tessera
