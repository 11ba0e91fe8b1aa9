// The bundle's baked idle loop: per step, the source frame to render and the source and driving
// keypoints (21 rows of x, y, z) to render it with.
#pragma once

#include <cstdint>
#include <vector>

#include "bundle/manifest.h"

namespace le {

struct Drive {
  std::vector<float> xs;    // frames x 63
  std::vector<float> xd;    // frames x 63
  std::vector<int32_t> si;  // frames, each in [0, NT)
  int32_t frames = 0;
};

// Reads the three tables whole; throws "cannot open " / "size mismatch " + path or
// "drive: si out of range".
Drive loadDrive(const Manifest& manifest);

}  // namespace le
