// Reading bundle members of a known size: read-only private mappings for the large per-frame
// arrays, whole reads for the small ones. A member whose size differs from what the manifest
// implies is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace le {

// A read-only private mapping, unmapped when the object dies. Empty when default-constructed.
class MappedFile {
 public:
  MappedFile() = default;
  // Maps path, which must be exactly `expectedBytes` long ("cannot open " / "size mismatch " /
  // "mmap failed " + path).
  MappedFile(const std::string& path, uint64_t expectedBytes);
  ~MappedFile();
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const uint8_t* data() const { return base_; }
  size_t size() const { return length_; }
  bool empty() const { return base_ == nullptr; }

 private:
  const uint8_t* base_ = nullptr;
  size_t length_ = 0;
};

// Reads exactly `count` little-endian values of 4 bytes and requires the end of the file right
// after them ("cannot open " / "size mismatch " + path).
std::vector<float> readFloatMember(const std::string& path, size_t count);
std::vector<int32_t> readInt32Member(const std::string& path, size_t count);

// True when the path can be stat'ed.
bool memberExists(const std::string& path);

}  // namespace le
