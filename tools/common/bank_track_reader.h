// The host side of the teeth borrow's bank: the bank track decoded with FFmpeg into packed RGB band
// patches in track order, as le_tessera_members_reorder takes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace le::tool {

// Exactly `frames` frames of width x height, converted to RGB24. Throws std::runtime_error
// (tool + ": ...") when the file does not open or decode, or carries other sizes or another count.
std::vector<uint8_t> readBankTrack(const std::string& path, int frames, int width, int height,
                                   const std::string& tool);

}  // namespace le::tool
