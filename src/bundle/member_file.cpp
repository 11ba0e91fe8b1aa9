#include "bundle/member_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <utility>

namespace le {
namespace {

// The file's size in bytes, or a throw naming it when it does not open.
uint64_t fileBytes(int fd, const std::string& path) {
  struct stat st;
  if (::fstat(fd, &st) != 0) throw std::runtime_error("cannot open " + path);
  return uint64_t(st.st_size);
}

void requireSize(uint64_t actual, const std::string& path, const MemberSize& expected) {
  if (actual != expected.bytes)
    throw std::runtime_error("size mismatch " + path + ": the file holds " + std::to_string(actual) +
                             " bytes, the manifest's " + expected.because + " needs " +
                             std::to_string(expected.bytes));
}

template <class T>
std::vector<T> readExact(const std::string& path, uint64_t count, const std::string& because) {
  static_assert(sizeof(T) == 4);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) throw std::runtime_error("cannot open " + path);
  const MemberSize expected{checkedBytes({count, sizeof(T)}, because), because};
  // Compared before the vector exists: the count comes from a manifest, the size from the file.
  requireSize(fileBytes(fileno(f.get()), path), path, expected);
  std::vector<T> v(static_cast<size_t>(count));
  if (std::fread(v.data(), sizeof(T), v.size(), f.get()) != v.size() || std::fgetc(f.get()) != EOF)
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
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  try {
    requireSize(fileBytes(fd, path), path, expected);
  } catch (...) {
    ::close(fd);
    throw;
  }
  void* p = ::mmap(nullptr, size_t(expected.bytes), PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
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

bool memberExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace le
