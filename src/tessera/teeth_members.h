// The teeth borrow's four bundle members: which the bundle carries (the carriage), the rule that
// the borrow is armed with all four or refused, and all four loaded and validated into the record
// a host hands to the pipeline's attach or to the bank decoder.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessera/geometry_stamp.h"

namespace le {

struct Manifest;

inline constexpr int kTesseraSlotCount = 4;

// The slot keys in slot order: "bank_track", "bank_sidecar", "head_weights", "head_config".
const std::array<const char*, kTesseraSlotCount>& tesseraSlotKeys();
int tesseraSlotCount();

// The default member file names, in slot order.
struct TesseraSlots {
  std::array<std::string, kTesseraSlotCount> names;
  TesseraSlots();
};

struct TesseraCarriage {
  std::array<std::string, kTesseraSlotCount> names;  // defaults, renamed by the manifest
  std::array<std::string, kTesseraSlotCount> paths;  // resolved against the bundle
  bool complete = false;
  std::vector<std::string> missing;  // slot keys whose member does not open
  bool declared = false;             // the manifest has a tessera object
  std::vector<std::string> planes;

  // The path of the slot with that key; throws "teeth: no such member slot '<key>'".
  const std::string& path(const std::string& key) const;
};

// Thrown when a member is missing; carries the missing slot keys.
class MissingTesseraMember : public std::runtime_error {
 public:
  MissingTesseraMember(const std::string& message, std::vector<std::string> missing)
      : std::runtime_error(message), missing_(std::move(missing)) {}
  const std::vector<std::string>& missing() const { return missing_; }

 private:
  std::vector<std::string> missing_;
};

struct TesseraAttachInputs {
  int32_t n_donors = 0;
  std::vector<int32_t> track_order;
  std::vector<double> cent;
  std::array<double, 2> c_canon{};
  std::vector<double> aperture;
  tessera::GeometryStamp stamp;
  std::vector<uint8_t> head_pt;
  std::string head_json;
  std::string manifest_json;
  std::string bank_track_path;
  std::string bank_container, bank_codec, bank_pix_fmt, bank_packing;
  int32_t band_w = 0, band_h = 0;
};

// What the bundle carries. Never throws for a missing or unreadable manifest; throws what bundle and
// member resolution throw.
TesseraCarriage tesseraCarriage(const std::string& bundle);
TesseraCarriage tesseraCarriage(const Manifest& manifest);

// Returns when the carriage is complete, else throws MissingTesseraMember with the whole ruling.
void requireTesseraMembers(const TesseraCarriage& carriage);

// All four members, read and validated. Throws MissingTesseraMember or std::runtime_error.
TesseraAttachInputs loadTesseraMembers(const std::string& bundle);
TesseraAttachInputs loadTesseraMembers(const Manifest& manifest);

// Copies the band bytes of track frame i to the donor slot track_order[i], for every donor.
void reorderTrackToDonor(const TesseraAttachInputs& inputs, const uint8_t* track, uint8_t* out);

}  // namespace le
