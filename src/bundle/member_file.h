// Reading bundle members of a known size: read-only private mappings for the large per-frame
// arrays, whole reads for the small ones. A member whose size differs from what the manifest
// implies is refused before anything is allocated for it, so a manifest declaring a huge count
// costs nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace le {

// The byte count a member must have and the manifest field that sets it, for the refusal text:
// "size mismatch <path>: the file holds <n> bytes, the manifest's <because> needs <bytes>".
struct MemberSize {
  uint64_t bytes = 0;
  std::string because;  // e.g. "frames 8 (x 63 floats)"
};

// The product of the factors, or a throw naming `what` when it does not fit 64 bits.
uint64_t checkedBytes(std::initializer_list<uint64_t> factors, const std::string& what);

// A regular file opened for reading, closed when the object dies. The open never blocks, so a FIFO
// put in a file's place is refused instead of waited on; a directory or device has no content to
// read. Throws "cannot open <path>" or "<path> is a directory|special file, not a regular file".
class RegularFile {
 public:
  explicit RegularFile(const std::string& path);
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  int fd() const { return fd_; }
  // The size when the file was opened.
  uint64_t size() const { return size_; }
  // Reads exactly `bytes` bytes from the current position; false when the file ends first.
  bool readFully(void* out, size_t bytes) const;
  // True when the file ends at the current position (it did not grow while it was read).
  bool atEnd() const;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// A read-only private mapping, unmapped when the object dies. Empty when default-constructed.
class MappedFile {
 public:
  MappedFile() = default;
  // Maps path, a regular file that must be exactly `expected.bytes` long (more than 0) ("cannot
  // open " / "size mismatch " / "mmap failed " + path, or the refusal of a directory).
  MappedFile(const std::string& path, const MemberSize& expected);
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

// Reads exactly `count` little-endian values of 4 bytes, the file's whole content ("cannot open " /
// "size mismatch " + path); `because` names the manifest field that sets count.
std::vector<float> readFloatMember(const std::string& path, uint64_t count, const std::string& because);
std::vector<int32_t> readInt32Member(const std::string& path, uint64_t count, const std::string& because);

// The whole content of a regular file of at most maxBytes bytes ("cannot open " + path; "<path> is
// a directory, not a regular file"; "<path> holds <n> bytes, which exceeds the limit of <maxBytes>
// for <what>"; "short read " + path). Opening never blocks, and the size is checked before the
// buffer exists.
std::string readWholeMember(const std::string& path, uint64_t maxBytes, const std::string& what);

// True when the path can be stat'ed.
bool memberExists(const std::string& path);

}  // namespace le
