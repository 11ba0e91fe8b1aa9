// The central directory of a ZIP archive held in memory: just enough of the format to find the
// records of a PyTorch state-dict file, which are stored uncompressed.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace le::tessera {

struct ZipEntry {
  std::string name;
  uint64_t dataOffset = 0;  // from the start of the archive
  uint64_t dataSize = 0;
};

// The entries in directory order, each with its data checked to lie inside `archive`. Throws
// std::runtime_error ("teeth: head .pt ...") on anything but an archive of stored entries.
std::vector<ZipEntry> readZipDirectory(std::span<const uint8_t> archive);

// The data of one entry.
std::span<const uint8_t> zipEntryData(std::span<const uint8_t> archive, const ZipEntry& entry);

}  // namespace le::tessera
