// The geometry stamp as the twelve int32 of the C interface, in field order.
#pragma once

#include <array>
#include <cstdint>

#include "tessera/geometry_stamp.h"

namespace le::tessera {

using StampArray = std::array<int32_t, 12>;

inline GeometryStamp stampFromArray(const int32_t* v) {
  return GeometryStamp{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]};
}

inline StampArray stampToArray(const GeometryStamp& s) {
  return {s.canvas_w, s.canvas_h, s.window_x0, s.window_y0, s.window_w, s.window_h,
          s.pad,      s.band_r0,  s.band_r1,   s.band_c0,   s.band_c1,  s.shift_margin};
}

}  // namespace le::tessera
