// The bundle manifest: dimensions, counts and paste parameters the rest of the system sizes itself by.
#pragma once

#include <cstdint>
#include <string>

namespace le {

// Limits on what a manifest may declare. Real bundles stay far below them; each exists so that a
// hostile manifest is refused before it sizes an allocation (a canvas frame, a decode buffer) that
// no member's size would check first.
inline constexpr int32_t kMaxImageSide = 16384;                   // W, H and crop, in pixels
inline constexpr int64_t kMaxCanvasPixels = 7680LL * 4320;         // W x H: an 8K UHD frame
inline constexpr int32_t kMaxFrameCount = 25 * 60 * 60 * 24;       // NT and frames: a day at 25 fps
inline constexpr uint64_t kMaxManifestBytes = uint64_t(16) << 20;  // manifest.json, lip template

struct Manifest {
  std::string root;   // resolved bundle directory
  std::string agent;
  int32_t NT = 0;     // frames of the driver video and of the per-frame identity arrays
  int32_t H = 0;      // canvas height
  int32_t W = 0;      // canvas width
  int32_t msrcW = 0;  // paste-space stamp: the canvas the paste transforms were authored on
  int32_t msrcH = 0;
  int32_t crop = 512; // side of the square face crop
  float amount = 1.3f; // unsharp mask handed to the compositor
  float sigma = 2.0f;
  int32_t ksize = 13;
  int32_t frames = 0; // rows of the driving tables
  std::string lipTemplateJson;

  // Path of the director model "model_" + key + ".onnx" under its welded or descriptive name.
  std::string modelPath(const std::string& key) const;
};

// Resolves the bundle handle, reads its manifest.json and fills every field. Throws
// std::runtime_error naming the first key that is missing, ambiguous or out of range.
Manifest loadManifest(const std::string& bundle);

// Every field but lipTemplateJson from the text of a manifest.json; root is stored as the bundle
// directory and names it in the messages. Throws as loadManifest does.
Manifest parseManifest(const std::string& text, const std::string& root);

// Whole file as bytes, at most kMaxManifestBytes; throws "cannot open <path>" / "short read <path>"
// or the refusal of a directory, special file or larger file (bundle/member_file.h).
std::string readTextFile(const std::string& path);

// The text of the member "manifest.json" under root.
std::string readManifestText(const std::string& root);

}  // namespace le
