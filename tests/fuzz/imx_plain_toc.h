// The IMX v2 table of contents read the plain way, from bytes in memory: what the container
// targets compare the library's reader with.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace le::fuzz {

struct PlainMember {
  std::string name;
  uint64_t offset = 0, size = 0;
};

inline uint64_t loadLittleEndian(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// nullopt when the header is not version 2's or the table runs past the end of the input.
inline std::optional<std::vector<PlainMember>> plainToc(const uint8_t* data, size_t size) {
  if (size < 8 || std::memcmp(data, "IMX\0", 4) != 0 || loadLittleEndian(data + 4, 2) != 2) return std::nullopt;
  std::vector<PlainMember> toc;
  size_t at = 8;
  for (uint64_t i = 0, count = loadLittleEndian(data + 6, 2); i < count; ++i) {
    if (size - at < 2) return std::nullopt;
    const size_t length = size_t(loadLittleEndian(data + at, 2));
    if (size - at - 2 < length + 16) return std::nullopt;
    PlainMember m{std::string(reinterpret_cast<const char*>(data) + at + 2, length), 0, 0};
    m.offset = loadLittleEndian(data + at + 2 + length, 8);
    m.size = loadLittleEndian(data + at + 10 + length, 8);
    toc.push_back(std::move(m));
    at += 2 + length + 16;
  }
  return toc;
}

}  // namespace le::fuzz
