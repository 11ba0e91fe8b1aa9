// Whole-file reads of driver frame files into a buffer that is reused from frame to frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace le::driver {

// The largest frame file read: 256 MiB, well past an 8K frame's raw RGB (100 MB), which no
// compressed frame exceeds by much.
inline constexpr uint64_t kMaxFrameFileBytes = uint64_t(256) << 20;

// Replaces the content of bytes with the file at path; the buffer only grows, so a directory of
// similar frames allocates once. Throws "le_driver: cannot decode <path> (<system reason>)", or
// with the reason "not a regular file" or "it holds <n> bytes, more than the limit of
// <kMaxFrameFileBytes> for a frame file" (checked before the buffer grows). The open never blocks.
void readFrameFile(const std::string& path, std::vector<uint8_t>& bytes);

}  // namespace le::driver
