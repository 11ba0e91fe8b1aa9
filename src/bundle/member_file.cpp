#include "bundle/member_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

namespace le {
namespace {

void requireSize(uint64_t actual, const std::string& path, const MemberSize& expected) {
  if (actual != expected.bytes)
    throw std::runtime_error("size mismatch " + path + ": the file holds " + std::to_string(actual) +
                             " bytes, the manifest's " + expected.because + " needs " +
                             std::to_string(expected.bytes));
}

template <class T>
std::vector<T> readExact(const std::string& path, uint64_t count, const std::string& because) {
  static_assert(sizeof(T) == 4);
  const RegularFile file(path);
  const MemberSize expected{checkedBytes({count, sizeof(T)}, because), because};
  // Compared before the vector exists: the count comes from a manifest, the size from the file.
  requireSize(file.size(), path, expected);
  std::vector<T> v(static_cast<size_t>(count));
  if (!file.readFully(v.data(), v.size() * sizeof(T)) || !file.atEnd())
    throw std::runtime_error("size mismatch " + path + ": the file changed size while it was read");
  return v;
}

}  // namespace

RegularFile::RegularFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st;
  std::string fault;
  if (fd < 0 || ::fstat(fd, &st) != 0)
    fault = "cannot open " + path;
  else if (!S_ISREG(st.st_mode))
    fault = path + (S_ISDIR(st.st_mode) ? " is a directory" : " is a special file") + ", not a regular file";
  if (!fault.empty()) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error(fault);
  }
  fd_ = fd;
  size_ = uint64_t(st.st_size);
}

RegularFile::~RegularFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool RegularFile::readFully(void* out, size_t bytes) const {
  auto* at = static_cast<uint8_t*>(out);
  while (bytes > 0) {
    const ssize_t n = ::read(fd_, at, bytes);
    if (n <= 0) return false;
    at += n;
    bytes -= size_t(n);
  }
  return true;
}

bool RegularFile::atEnd() const {
  char extra;
  return ::read(fd_, &extra, 1) == 0;
}

uint64_t checkedBytes(std::initializer_list<uint64_t> factors, const std::string& what) {
  uint64_t product = 1;
  for (uint64_t f : factors)
    if (__builtin_mul_overflow(product, f, &product))
      throw std::runtime_error("size overflow: the manifest's " + what + " does not fit 64 bits");
  return product;
}

MappedFile::MappedFile(const std::string& path, const MemberSize& expected) {
  const RegularFile file(path);
  requireSize(file.size(), path, expected);
  void* p = ::mmap(nullptr, size_t(expected.bytes), PROT_READ, MAP_PRIVATE, file.fd(), 0);
  if (p == MAP_FAILED) throw std::runtime_error("mmap failed " + path);
  base_ = static_cast<const uint8_t*>(p);
  length_ = size_t(expected.bytes);
}

MappedFile::~MappedFile() {
  if (base_) ::munmap(const_cast<uint8_t*>(base_), length_);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)), length_(std::exchange(other.length_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    MappedFile gone(std::move(*this));
    base_ = std::exchange(other.base_, nullptr);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

std::vector<float> readFloatMember(const std::string& path, uint64_t count, const std::string& because) {
  return readExact<float>(path, count, because);
}

std::vector<int32_t> readInt32Member(const std::string& path, uint64_t count, const std::string& because) {
  return readExact<int32_t>(path, count, because);
}

std::string readWholeMember(const std::string& path, uint64_t maxBytes, const std::string& what) {
  const RegularFile file(path);
  if (file.size() > maxBytes)
    throw std::runtime_error(path + " holds " + std::to_string(file.size()) + " bytes, which exceeds the limit of " +
                             std::to_string(maxBytes) + " for " + what);
  std::string text(size_t(file.size()), '\0');
  if (!file.readFully(text.data(), text.size())) throw std::runtime_error("short read " + path);
  return text;
}

bool memberExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace le
