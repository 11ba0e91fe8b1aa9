// How the bank track is stored: container, codec, pixel format and packing, from the manifest's
// tessera block with the sidecar's codec block as fallback. The pixel format is never left to the
// decoder.
#pragma once

#include <string>

#include "tessera/bank_sidecar.h"
#include "tessera/manifest_tessera.h"

namespace le::tessera {

inline constexpr const char* kDefaultBankContainer = "mp4";
inline constexpr const char* kDefaultBankPacking = "rgb24_frames";

struct BankEncoding {
  std::string container;
  std::string codec;
  std::string pix_fmt;
  std::string packing;
};

// Throws bundlePath + ": neither manifest.tessera.bank_pix_fmt nor " + sidecarName + ".codec.pix_fmt
// states ..." when no pixel format results.
BankEncoding bankEncoding(const ManifestTessera& block, const BankSidecar& sidecar, const std::string& bundlePath,
                          const std::string& sidecarName);

}  // namespace le::tessera
