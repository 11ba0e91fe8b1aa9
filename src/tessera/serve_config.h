// Serving settings of the teeth pass: retrieval and temporal settings from the head config member
// ("tessera_head.v1"), and the constants of the serving setup that no document changes.
#pragma once

#include <cstdint>
#include <string_view>

namespace le::tessera {

struct ServeConfig {
  int32_t kshort = 512;        // shortlist size that gets the exact retrieval term
  double aperture_tol = 0.3;   // relative aperture tolerance around the best donor
  int32_t cut = 96;            // shortlist entries the selection walks
  int32_t K = 64;              // donors per frame
  int32_t hysteresis = 8;      // sticky set size
  int32_t lookahead = 8;       // entries taken from the next frame's selection
  double teeth_luma_floor = 100.0;
  double teeth_rg_tolerance = 25.0;
  int32_t min_teeth_pixels = 32;
  double mask_carry = 0.6;
  bool lookahead_enabled = true;

  // Reads the head config text. A config without the v1 retrieval/temporal blocks, a missing key,
  // or a decode envelope other than 12/255 is refused: serving defaults would hide a broken bundle.
  static ServeConfig fromHeadMemberJson(std::string_view text);
};

}  // namespace le::tessera
