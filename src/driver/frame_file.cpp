#include "driver/frame_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace le::driver {
namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
  throw std::runtime_error("le_driver: cannot decode " + path + " (" + why + ")");
}

std::string systemReason() { return std::generic_category().message(errno); }

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

void readFrameFile(const std::string& path, std::vector<uint8_t>& bytes) {
  const Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (file.fd < 0) refuse(path, systemReason());
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) refuse(path, systemReason());
  if (!S_ISREG(st.st_mode)) refuse(path, "not a regular file");
  if (uint64_t(st.st_size) > kMaxFrameFileBytes)
    refuse(path, "it holds " + std::to_string(st.st_size) + " bytes, more than the limit of " +
                     std::to_string(kMaxFrameFileBytes) + " for a frame file");
  bytes.resize(size_t(st.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(file.fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) refuse(path, systemReason());
    if (got == 0) break;  // the file shrank while being read
    done += size_t(got);
  }
  bytes.resize(done);
}

}  // namespace le::driver
