#include "bundle/path_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace le {

std::string rstripSlash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::string baseName(const std::string& p) {
  std::string s = rstripSlash(p);
  size_t slash = s.rfind('/');
  return slash == std::string::npos ? s : s.substr(slash + 1);
}

std::string dirName(const std::string& p) {
  std::string s = rstripSlash(p);
  size_t slash = s.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return s.substr(0, slash);
}

bool isDirectory(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool pathExists(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

bool opensForReading(const std::string& p) {
  // Non-blocking: opening a FIFO for reading would otherwise wait for a writer.
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool mkdirs(const std::string& p) {
  if (p.empty() || p == "." || p == "/") return true;
  if (isDirectory(p)) return true;
  std::string parent = dirName(p);
  if (parent != p && !mkdirs(parent)) return false;
  if (::mkdir(p.c_str(), 0755) != 0 && errno != EEXIST) return false;
  return isDirectory(p);
}

void rmTree(const std::string& p) {
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    ::unlink(p.c_str());
    return;
  }
  if (DIR* d = ::opendir(p.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      rmTree(p + "/" + name);
    }
    ::closedir(d);
  }
  ::rmdir(p.c_str());
}

}  // namespace le
