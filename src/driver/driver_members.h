// Which member of a bundle the driver video and the played warp prior come from, and the log
// lines that say so.
#pragma once

#include <memory>

#include "driver/source.h"

namespace le {
struct Manifest;
}

namespace le::driver {

// The driver: a populated JPEG frame directory ("target_frames", or the manifest's
// `target_frames`), else the movie member ("target_frames.mp4", or `target_frames_mp4`);
// LE_DRIVER_PREFER_MP4=1 prefers the movie when it exists. lookAhead and history only appear in
// the log line. Throws std::runtime_error when the bundle carries neither.
std::unique_ptr<Source> openDriverMember(const Manifest& m, int lookAhead, int history);

// The warp prior movie ("P_hevc.mov", or the manifest's `P_hevc`), crop x crop.
// Throws std::runtime_error when the member is not there.
std::unique_ptr<Source> openPriorMember(const Manifest& m);

}  // namespace le::driver
