#include "tessera/teeth_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace le::tessera {

namespace {

// Closes the descriptor when it goes out of scope.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

bool opensForReading(const std::string& path) {
  const Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  struct stat st;
  return file.fd >= 0 && ::fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode);
}

std::string findTeethManifest(const std::string& root) {
  for (const char* name : {"manifest.json", "meta.json"})
    if (opensForReading(root + "/" + name)) return root + "/" + name;
  return {};
}

std::vector<uint8_t> readTeethBytes(const std::string& path, uint64_t maxBytes, const std::string& what) {
  const Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  struct stat st;
  if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
    throw std::runtime_error("teeth: cannot open " + path);
  if (uint64_t(st.st_size) > maxBytes)
    throw std::runtime_error("teeth: " + path + " holds " + std::to_string(st.st_size) +
                             " bytes, which exceeds the limit of " + std::to_string(maxBytes) + " for " + what);
  std::vector<uint8_t> bytes(size_t(st.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(file.fd, bytes.data() + got, bytes.size() - got);
    if (n <= 0) throw std::runtime_error("teeth: short read " + path);
    got += size_t(n);
  }
  return bytes;
}

std::string readTeethFile(const std::string& path, const std::string& what) {
  const std::vector<uint8_t> bytes = readTeethBytes(path, kMaxTeethTextBytes, what);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace le::tessera
