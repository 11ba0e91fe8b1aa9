#include "bundle/member_guard.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace le {
namespace {

[[noreturn]] void refuse(const std::string& name, const std::string& why) {
  throw std::runtime_error("bundle: refusing member '" + name + "': " + why);
}

bool hasDotDotComponent(const std::string& name) {
  for (size_t begin = 0; begin <= name.size();) {
    size_t end = name.find('/', begin);
    if (end == std::string::npos) end = name.size();
    if (name.compare(begin, end - begin, "..") == 0) return true;
    begin = end + 1;
  }
  return false;
}

// The path with every link followed, or empty when it does not exist.
std::string realPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

const char* kindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

}  // namespace

void requireSafeMemberName(const std::string& name) {
  if (name.empty()) refuse(name, "a member name cannot be empty");
  if (name.find('\0') != std::string::npos) refuse(name, "a member name cannot hold a NUL byte");
  if (name[0] == '/' || name[0] == '\\')
    refuse(name, "a member name is a path relative to the bundle root, not an absolute one");
  if (hasDotDotComponent(name)) refuse(name, "a '..' component would leave the bundle root");
}

void requireInsideRoot(const std::string& root, const std::string& path, const std::string& name) {
  const std::string real = realPath(path);
  if (real.empty()) return;
  const std::string realRoot = realPath(root);
  if (realRoot.empty()) refuse(name, "the bundle root " + root + " does not resolve");
  const std::string prefix = realRoot == "/" ? realRoot : realRoot + "/";
  if (real != realRoot && real.compare(0, prefix.size(), prefix) != 0)
    refuse(name, "it resolves to " + real + ", outside the bundle directory " + realRoot +
                     " (a link leaves the bundle)");
}

void requireFileOrDirectory(const std::string& path, const std::string& name) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return;
  refuse(name, path + " is " + kindOf(st.st_mode) + ", not a regular file: a bundle member is read to its end");
}

}  // namespace le
