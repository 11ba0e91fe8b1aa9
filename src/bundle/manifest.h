// The bundle manifest: dimensions, counts and paste parameters the rest of the system sizes itself by.
#pragma once

#include <cstdint>
#include <string>

namespace le {

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

// Whole file as bytes; throws "cannot open <path>" / "short read <path>".
std::string readTextFile(const std::string& path);

// The text of the member "manifest.json" under root.
std::string readManifestText(const std::string& root);

}  // namespace le
