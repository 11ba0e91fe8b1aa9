// The manifest's optional `tessera` block: member renames, the planes list, and how the bank track
// is stored. Its `geometry` is compared with the bank sidecar's stamp by readBankSidecar.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tessera/json_value.h"

namespace le::tessera {

struct ManifestTessera {
  bool declared = false;  // the manifest has a `tessera` object
  // Every member of `tessera.members` in document order, with its value when that is a string.
  std::vector<std::pair<std::string, std::optional<std::string>>> members;
  std::vector<std::string> planes;  // the string elements of `tessera.planes`
  // Each present only when the block states it as a string.
  std::optional<std::string> bank_container;
  std::optional<std::string> bank_packing;
  std::optional<std::string> bank_codec;
  std::optional<std::string> bank_pix_fmt;

  // The member file name of a slot: the block's rename when its first entry for the key is a
  // non-empty string, else `fallback`.
  std::string memberName(const std::string& slotKey, const std::string& fallback) const;
};

// Reads the block of a parsed manifest; a manifest that is not an object, or has no `tessera`
// object, gives an undeclared block.
ManifestTessera readManifestTessera(const json::JVal& manifest);

}  // namespace le::tessera
