// IMX v2: a single-file bundle container. Header "IMX\0", u16 version 2, u16 member count, then a
// table of contents of (u16 name length, name, u64 payload offset, u64 payload size) entries, all
// little-endian; payloads may lie anywhere in the file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace le {

// True only for a regular file whose first 8 bytes are the IMX magic and version 2.
bool isImxV2File(const std::string& path);

namespace imx {

struct Entry {
  std::string name;  // relative path, "/" between directories; empty names are carried, not used
  uint64_t offset = 0;
  uint64_t size = 0;
};

// Throws "<container>: not an IMX\0 container" (a backslash and a zero, not a NUL byte) or
// "<container>: unsupported IMX container version <n>" unless the file starts with the header of a
// version 2 container.
void requireV2Header(const std::string& container);

// Reads the header and table of contents from the start of f. `container` names the file in the
// messages. Throws std::runtime_error on a bad magic, version or truncated table.
std::vector<Entry> readToc(std::FILE* f, const std::string& container);

// Packs every regular file below dir (sorted by relative path, so the same tree gives the same
// bytes) into a container at out, written to out + ".part" and renamed into place.
void packDirectory(const std::string& dir, const std::string& out);

}  // namespace imx
}  // namespace le
