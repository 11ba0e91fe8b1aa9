// Decodes the teeth bank track (one donor patch per frame, in track order) from the member's bytes
// into packed RGB donors in donor order, over FFmpeg with in-memory custom I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace le::tessera {

// The donor buffer: n_donors patches of band_h rows of band_w RGB pixels, in donor order. Track
// frame k lands in the patch named by track_order[k]. The track must carry exactly n_donors frames
// of band_w x band_h; every refusal throws std::runtime_error and releases what was acquired.
std::vector<uint8_t> decodeBankTrack(const uint8_t* bytes, size_t size, int32_t n_donors, int32_t band_h,
                                     int32_t band_w, const std::vector<int32_t>& track_order);

// The decoder library for diagnostics, as the driver names it: "libavcodec " + the version loaded +
// " (built against " + the version compiled against + ") / " + the loaded library's configuration.
std::string bankDecoderBuild();

}  // namespace le::tessera
