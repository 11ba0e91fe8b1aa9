// Whole-file reads of driver frame files into a buffer that is reused from frame to frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace le::driver {

// Replaces the content of bytes with the file at path; the buffer only grows, so a directory of
// similar frames allocates once. Throws "le_driver: cannot decode <path> (<system reason>)".
void readFrameFile(const std::string& path, std::vector<uint8_t>& bytes);

}  // namespace le::driver
