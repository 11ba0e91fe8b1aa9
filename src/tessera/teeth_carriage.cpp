// Which teeth members a bundle carries, and the all-or-nothing rule over them.
#include <string>

#include "bundle/bundle_path.h"
#include "bundle/manifest.h"
#include "bundle/member_names.h"
#include "tessera/json_reader.h"
#include "tessera/manifest_tessera.h"
#include "tessera/teeth_files.h"
#include "tessera/teeth_members.h"

namespace le {

namespace {

// The manifest's tessera block, or an undeclared one when the manifest is absent or unreadable:
// the carriage never fails for the manifest's sake.
tessera::ManifestTessera tesseraBlockOf(const std::string& root) {
  const std::string manifest = tessera::findTeethManifest(root);
  if (manifest.empty()) return {};
  try {
    return tessera::readManifestTessera(tessera::json::parse(tessera::readTeethFile(manifest, "a manifest")));
  } catch (...) {
    return {};
  }
}

}  // namespace

const std::array<const char*, kTesseraSlotCount>& tesseraSlotKeys() {
  static const std::array<const char*, kTesseraSlotCount> keys{"bank_track", "bank_sidecar", "head_weights",
                                                               "head_config"};
  return keys;
}

int tesseraSlotCount() { return kTesseraSlotCount; }

TesseraSlots::TesseraSlots()
    : names{"tessera_bank.v1.mp4", "tessera_bank.v1.json", "tessera_head.v1.pt", "tessera_head.v1.json"} {}

const std::string& TesseraCarriage::path(const std::string& key) const {
  for (int i = 0; i < kTesseraSlotCount; ++i)
    if (key == tesseraSlotKeys()[size_t(i)]) return paths[size_t(i)];
  throw std::runtime_error("teeth: no such member slot '" + key + "'");
}

TesseraCarriage tesseraCarriage(const std::string& bundle) {
  const std::string root = resolveBundlePath(bundle);
  TesseraCarriage carriage;
  carriage.names = TesseraSlots().names;
  const tessera::ManifestTessera block = tesseraBlockOf(root);
  carriage.declared = block.declared;
  carriage.planes = block.planes;
  for (size_t i = 0; i < kTesseraSlotCount; ++i) {
    carriage.names[i] = block.memberName(tesseraSlotKeys()[i], carriage.names[i]);
    carriage.paths[i] = resolveMember(root, carriage.names[i]);
    if (!tessera::opensForReading(carriage.paths[i])) carriage.missing.push_back(tesseraSlotKeys()[i]);
  }
  carriage.complete = carriage.missing.empty();
  return carriage;
}

TesseraCarriage tesseraCarriage(const Manifest& manifest) { return tesseraCarriage(manifest.root); }

void requireTesseraMembers(const TesseraCarriage& carriage) {
  if (carriage.complete) return;
  std::string message = "missing teeth member(s): ";
  for (size_t m = 0; m < carriage.missing.size(); ++m) {
    size_t slot = 0;
    while (slot < kTesseraSlotCount && carriage.missing[m] != tesseraSlotKeys()[slot]) ++slot;
    message += (m ? ", " : "") + carriage.missing[m] + " (" +
               (slot < kTesseraSlotCount ? carriage.names[slot] : std::string()) + ")";
  }
  message += " \xe2\x80\x94 carries " + std::to_string(kTesseraSlotCount - int(carriage.missing.size())) + " of 4";
  if (carriage.declared) message += " and declares a manifest.tessera block the members do not keep";
  message +=
      ". ONE predicate (owner ruling 2026-09-06): all four members present = ARMED on every plane; any missing = "
      "REFUSED on every plane. The borrow is a SWITCH, not a gradient \xe2\x80\x94 there is no rendering mode that "
      "proceeds without them (ombrine-2 IS borrowed teeth). Re-stage the bundle with the bank builder.";
  throw MissingTesseraMember(message, carriage.missing);
}

}  // namespace le
