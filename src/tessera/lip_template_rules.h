// What a lip template may name, and the refusals that more than one reader of it throws: every
// one is "lip_template.v1.json: " followed by its reason.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace le::tessera {

inline constexpr const char* kLipTemplateMember = "lip_template.v1.json";
// A map reads the offsets of at most this many anchor rows.
inline constexpr int kMaxMapAnchors = 8;
// Rows of one frame's keypoints (le::kHostKpRows; the teeth code is built without the C headers).
inline constexpr int kKeypointRows = 21;

inline bool isKeypointRow(int64_t row) { return row >= 0 && row < kKeypointRows; }

inline std::runtime_error lipTemplateError(const std::string& reason) {
  return std::runtime_error(std::string(kLipTemplateMember) + ": " + reason);
}

inline std::runtime_error lipRowError(const std::string& row) {
  return lipTemplateError("lip_idx names keypoint row " + row + ", and a kd row is 0..20");
}

inline std::runtime_error lipMapRowError() { return lipTemplateError("lip_map lip_idx names a row outside 0..20"); }

}  // namespace le::tessera
