// The bank sidecar ("tessera_bank.v1"): the donor bank's count, track order, mouth centres and
// apertures, and the geometry stamp the donors were cut with. Reading it refuses rather than
// guesses; the checks run in a fixed order, so a document with several faults reports the first.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tessera/geometry_stamp.h"
#include "tessera/json_value.h"

namespace le::tessera {

// Owner's cap on the donor count (ruling 2026-08-28); a bank past it is refused, never trimmed.
inline constexpr int32_t kMaxDonors = 1024;

inline constexpr const char* kBankSidecarFormat = "tessera_bank.v1";

struct BankSidecar {
  GeometryStamp stamp;
  int32_t band_w = 0;  // stored donor patch, pixels
  int32_t band_h = 0;
  int32_t n_donors = 0;
  std::vector<int32_t> track_order;  // donor index of each track frame
  std::vector<double> cent;          // x, y of each donor, donor-major
  std::vector<double> aperture;
  std::array<double, 2> c_canon{};
  std::string codec;    // the sidecar's codec.codec, or empty
  std::string pix_fmt;  // the sidecar's codec.pix_fmt, or empty
};

// Checks the sidecar document against itself and against the manifest's tessera.geometry, if the
// manifest states one. `name` is the sidecar's member file name, used in every message.
BankSidecar readBankSidecar(const json::JVal& sidecar, const json::JVal& manifest, const std::string& name);

}  // namespace le::tessera
