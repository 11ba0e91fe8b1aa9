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

template <class T>
std::vector<T> readExact(const std::string& path, size_t count) {
  static_assert(sizeof(T) == 4);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) throw std::runtime_error("cannot open " + path);
  std::vector<T> v(count);
  if (std::fread(v.data(), sizeof(T), count, f.get()) != count || std::fgetc(f.get()) != EOF)
    throw std::runtime_error("size mismatch " + path);
  return v;
}

}  // namespace

MappedFile::MappedFile(const std::string& path, uint64_t expectedBytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  struct stat st;
  if (::fstat(fd, &st) != 0 || uint64_t(st.st_size) != expectedBytes || expectedBytes == 0) {
    ::close(fd);
    throw std::runtime_error("size mismatch " + path);
  }
  void* p = ::mmap(nullptr, size_t(expectedBytes), PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) throw std::runtime_error("mmap failed " + path);
  base_ = static_cast<const uint8_t*>(p);
  length_ = size_t(expectedBytes);
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

std::vector<float> readFloatMember(const std::string& path, size_t count) { return readExact<float>(path, count); }

std::vector<int32_t> readInt32Member(const std::string& path, size_t count) {
  return readExact<int32_t>(path, count);
}

bool memberExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace le
