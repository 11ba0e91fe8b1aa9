#include "bundle/member_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

namespace le {
namespace {

// An open descriptor, closed when the object dies.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opens a regular file for reading and gives its size. The open does not block, so a FIFO put in
// a member's place is refused instead of waited on; a directory or device has no content to read.
Fd openRegular(const std::string& path, uint64_t& bytes) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) throw std::runtime_error("cannot open " + path);
  if (!S_ISREG(st.st_mode))
    throw std::runtime_error(path + (S_ISDIR(st.st_mode) ? " is a directory" : " is a special file") +
                             ", not a regular file");
  bytes = uint64_t(st.st_size);
  return fd;
}

void requireSize(uint64_t actual, const std::string& path, const MemberSize& expected) {
  if (actual != expected.bytes)
    throw std::runtime_error("size mismatch " + path + ": the file holds " + std::to_string(actual) +
                             " bytes, the manifest's " + expected.because + " needs " +
                             std::to_string(expected.bytes));
}

// Reads exactly `bytes` bytes into out; false when the file ends first.
bool readFully(int fd, void* out, size_t bytes) {
  auto* at = static_cast<uint8_t*>(out);
  while (bytes > 0) {
    const ssize_t n = ::read(fd, at, bytes);
    if (n <= 0) return false;
    at += n;
    bytes -= size_t(n);
  }
  return true;
}

template <class T>
std::vector<T> readExact(const std::string& path, uint64_t count, const std::string& because) {
  static_assert(sizeof(T) == 4);
  uint64_t actual = 0;
  const Fd fd = openRegular(path, actual);
  const MemberSize expected{checkedBytes({count, sizeof(T)}, because), because};
  // Compared before the vector exists: the count comes from a manifest, the size from the file.
  requireSize(actual, path, expected);
  std::vector<T> v(static_cast<size_t>(count));
  char extra;
  if (!readFully(fd.get(), v.data(), v.size() * sizeof(T)) || ::read(fd.get(), &extra, 1) != 0)
    throw std::runtime_error("size mismatch " + path + ": the file changed size while it was read");
  return v;
}

}  // namespace

uint64_t checkedBytes(std::initializer_list<uint64_t> factors, const std::string& what) {
  uint64_t product = 1;
  for (uint64_t f : factors)
    if (__builtin_mul_overflow(product, f, &product))
      throw std::runtime_error("size overflow: the manifest's " + what + " does not fit 64 bits");
  return product;
}

MappedFile::MappedFile(const std::string& path, const MemberSize& expected) {
  uint64_t actual = 0;
  const Fd fd = openRegular(path, actual);
  requireSize(actual, path, expected);
  void* p = ::mmap(nullptr, size_t(expected.bytes), PROT_READ, MAP_PRIVATE, fd.get(), 0);
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
  uint64_t bytes = 0;
  const Fd fd = openRegular(path, bytes);
  if (bytes > maxBytes)
    throw std::runtime_error(path + " holds " + std::to_string(bytes) + " bytes, which exceeds the limit of " +
                             std::to_string(maxBytes) + " for " + what);
  std::string text(size_t(bytes), '\0');
  if (!readFully(fd.get(), text.data(), text.size())) throw std::runtime_error("short read " + path);
  return text;
}

bool memberExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace le
