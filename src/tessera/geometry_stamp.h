// The geometry a teeth bank was cut with, in pixels of the compose canvas: the canvas, the teeth
// window inside it, the pad that grows the window into a patch, the band (half-open rows and
// columns in window coordinates) where the borrow acts, and the shift margin that grows the band
// into a stored donor patch.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "tessera/json_value.h"

namespace le::tessera {

struct GeometryStamp {
  int32_t canvas_w = 0;
  int32_t canvas_h = 0;
  int32_t window_x0 = 0;
  int32_t window_y0 = 0;
  int32_t window_w = 0;
  int32_t window_h = 0;
  int32_t pad = 0;
  int32_t band_r0 = 0;
  int32_t band_r1 = 0;
  int32_t band_c0 = 0;
  int32_t band_c1 = 0;
  int32_t shift_margin = 0;

  // The twelve keys in field order, the order of every message that lists them.
  static const std::array<const char*, 12>& keys();

  // The twelve required numbers of `object`, truncated toward zero; a missing one throws the
  // required-number error under `context`.
  static GeometryStamp fromJson(const json::JVal& object, const std::string& context);

  // "{canvas_w=64, canvas_h=64, ...}".
  std::string describe() const;

  // Stored donor patch size: the band grown by shift_margin on every side. Wide arithmetic, since a
  // stamp comes from an untrusted document.
  int64_t bandW() const { return int64_t(band_c1) - band_c0 + 2 * int64_t(shift_margin); }
  int64_t bandH() const { return int64_t(band_r1) - band_r0 + 2 * int64_t(shift_margin); }

  // Returns when every coherence rule holds; otherwise throws one message naming every rule that
  // fails.
  void validate() const;

  bool operator==(const GeometryStamp&) const = default;
};

}  // namespace le::tessera
