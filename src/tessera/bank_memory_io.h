// Reads the bank track from memory through FFmpeg's custom I/O: the read and seek callbacks of an
// AVIOContext over bytes the caller keeps alive, so that the member never touches the disk.
#pragma once

#include <cstdint>

namespace le::tessera {

// The track bytes, their size and the read position, all 64-bit.
struct MemoryReader {
  const uint8_t* data = nullptr;
  int64_t size = 0;
  int64_t pos = 0;
};

// AVIOContext read callback (`opaque` is a MemoryReader): copies up to `want` bytes from the read
// position and advances it; at or past the end returns FFmpeg's end-of-file error.
int memoryRead(void* opaque, uint8_t* buf, int want);

// AVIOContext seek callback: AVSEEK_SIZE returns the size without moving; SEEK_CUR and SEEK_END
// add the offset to that base, anything else is absolute. A target outside [0, size] returns -1
// and leaves the position; otherwise the position moves there and is returned.
int64_t memorySeek(void* opaque, int64_t offset, int whence);

}  // namespace le::tessera
