// The teeth JSON fuzz target's seeds: a coherent sidecar, a manifest with its tessera block, a
// head config, and texts that reach the reader's lenient corners.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_seeds.h"

namespace le::fuzz {

namespace {

const char* const kStamp =
    R"({"canvas_w": 64, "canvas_h": 64, "window_x0": 24, "window_y0": 38, "window_w": 15, "window_h": 11,
        "pad": 2, "band_r0": 2, "band_r1": 9, "band_c0": 2, "band_c1": 13, "shift_margin": 1})";

std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace

SeedCorpus seedCorpus() {
  const std::string stamp = kStamp;
  return {{
      bytesOf(R"({"format": "tessera_bank.v1", "geometry": )" + stamp +
              R"(, "n_donors": 3, "track_order": [2, 0, 1], "cent": [[30.5, 43], [31, 42.5], [32, 44]],
                 "aperture": [0.5, 1.5, 2.5], "c_canon": [31.5, 43.5], "codec": {"codec": "h264", "pix_fmt": "yuv444p"},
                 "tessera": {"geometry": )" + stamp +
              R"(, "bank_pix_fmt": "rgb24", "members": {"bank_track": "t.mp4"}, "planes": ["realtime"]}})"),
      bytesOf(R"({"format": "tessera_head.v1", "retrieval": {"kshort": 12, "aperture_tol": 0.3, "cut": 8, "K": 4},
                 "temporal": {"hysteresis": 2, "lookahead": 2}, "decode": {"envelope_clamp_255": 12}})"),
      bytesOf(R"(  {"a" 1, xb": "\u00e9\q\"", "c": [true, falsey, nullx, -0x1p3, inf, nan, 1e999], "d": "open)"),
      bytesOf(R"([[[[{"k": [{}, [], "", 0]}]]]])"),
  }, ".json"};
}

}  // namespace le::fuzz
