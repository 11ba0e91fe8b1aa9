#include "bundle/bundle_path.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "bundle/imx_container.h"
#include "bundle/imx_layout.h"
#include "bundle/member_file.h"
#include "bundle/path_util.h"
#include "core/log.h"

namespace le {
namespace {

constexpr size_t kCopyBufferBytes = 8u << 20;
constexpr uint64_t kSyntheticManifestMaxBytes = 4u << 20;
constexpr std::string_view kStampPrefix = "imx-unwrapped.v2 ";
constexpr const char* kTemporaryInfix = ".unwrapping-";
constexpr std::string_view kReplacedSuffix = "-replaced";
// A stamp is the prefix, the container's file name (at most 255 bytes) and three numbers.
constexpr uint64_t kMaxMarkerBytes = 4096;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// One lock for every container in the process: two sessions opening the same container at once
// unwrap it once, the second finding the stamp in place.
std::mutex& unwrapLock() {
  static std::mutex m;
  return m;
}

std::string trimBlanks(const std::string& s) {
  const char* blanks = " \t\r\n";
  size_t b = s.find_first_not_of(blanks);
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

// The text of an unwrap marker, or nullopt when there is none we could have written: a FIFO or
// device in a marker's place is never read (its open would block, or its content never end), and
// no stamp of ours is longer than kMaxMarkerBytes.
std::optional<std::string> readMarker(const std::string& marker) {
  try {
    return trimBlanks(readWholeMember(marker, kMaxMarkerBytes, "an unwrap marker"));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// A container may carry a manifest made up only for the container's own bookkeeping; it is not a
// member of the bundle.
bool isSyntheticManifest(std::FILE* f, const imx::Entry& e) {
  if (e.name != "manifest.json" || e.size < 1 || e.size > kSyntheticManifestMaxBytes) return false;
  std::string text(e.size, '\0');
  if (fseeko(f, off_t(e.offset), SEEK_SET) != 0) return false;
  if (std::fread(text.data(), 1, text.size(), f) != text.size()) return false;
  return text.find("_imx_synthetic_manifest") != std::string::npos;
}

void materialise(std::FILE* f, const std::string& container, const imx::Entry& e,
                 const std::string& dest, std::vector<char>& buf) {
  std::string path = dest + "/" + e.name;
  std::string dir = dirName(path);
  if (!mkdirs(dir)) throw std::runtime_error("cannot create " + dir);
  if (e.offset > uint64_t(INT64_MAX) || fseeko(f, off_t(e.offset), SEEK_SET) != 0)
    throw std::runtime_error(container + ": cannot seek to member " + e.name);
  std::string part = path + ".part";
  File out(std::fopen(part.c_str(), "wb"));
  if (!out) throw std::runtime_error("cannot write " + part);
  for (uint64_t left = e.size; left > 0;) {
    size_t want = size_t(std::min<uint64_t>(left, buf.size()));
    size_t got = std::fread(buf.data(), 1, want, f);
    if (got == 0) throw std::runtime_error(container + ": truncated payload for member " + e.name);
    if (std::fwrite(buf.data(), 1, got, out.get()) != got)
      throw std::runtime_error("short write materialising " + path);
    left -= got;
  }
  if (std::fflush(out.get()) != 0) throw std::runtime_error("flush failed materialising " + path);
  out.reset();
  if (std::rename(part.c_str(), path.c_str()) != 0) {
    std::remove(part.c_str());
    throw std::runtime_error("cannot place member " + path);
  }
}

// What unwrapping one container involves: where it goes and the marker that says we put it there.
struct UnwrapPlace {
  std::string container, dest, marker;
};

UnwrapPlace placeOf(const std::string& container) {
  std::string name = baseName(container);
  if (endsWith(name, ".imx")) name.resize(name.size() - 4);
  if (!endsWith(name, ".lebundle")) name += ".lebundle";
  const char* rootEnv = std::getenv("LE_IMX_UNWRAP_ROOT");
  std::string parent = rootEnv && *rootEnv ? rootEnv : dirName(container);
  std::string dest = rstripSlash(parent) + "/" + name;
  return {container, dest, dest + ".imx_unwrapped"};
}

// Temporaries live beside the destination, named after it and the process that made them:
// "<dest>.unwrapping-<pid>" for the tree being written, and that name + "-replaced" for the tree it
// replaces. A rename within one directory then moves a finished tree into place at once.
std::string temporaryPrefix(const std::string& dest) { return baseName(dest) + kTemporaryInfix; }

std::string temporaryOf(const std::string& dest) {
  return dest + kTemporaryInfix + std::to_string(long(::getpid()));
}

// The pid in the name of one of our temporaries, or 0 when the name is not exactly of that form.
long temporaryPid(const std::string& name, const std::string& prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  const char* digits = name.c_str() + prefix.size();
  char* end = nullptr;
  const long pid = std::strtol(digits, &end, 10);
  if (end == digits || !std::isdigit(static_cast<unsigned char>(*digits))) return 0;
  return std::string_view(end) == "" || std::string_view(end) == kReplacedSuffix ? pid : 0;
}

// Removes what an interrupted unwrap left: temporaries of this process (the unwrap lock is held,
// so none of them is in use) and of processes that no longer run.
void clearStaleTemporaries(const std::string& dest) {
  const std::string dir = dirName(dest), prefix = temporaryPrefix(dest);
  std::vector<std::string> stale;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const long pid = temporaryPid(e->d_name, prefix);
      if (pid <= 0) continue;
      const bool ended = ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
      if (pid == long(::getpid()) || ended) stale.push_back(dir + "/" + e->d_name);
    }
    ::closedir(d);
  }
  for (const std::string& path : stale) rmTree(path);
}

// True when the marker beside a destination holds one of our stamps: this library made it.
bool madeByUnwrap(const std::string& marker) {
  const std::optional<std::string> held = readMarker(marker);
  return held && held->compare(0, kStampPrefix.size(), kStampPrefix) == 0;
}

// A destination we did not make may hold someone's files: it is never replaced.
void requireReplaceable(const UnwrapPlace& at) {
  if (!pathExists(at.dest) || madeByUnwrap(at.marker)) return;
  throw std::runtime_error(at.container + ": refusing to unwrap into " + at.dest +
                           ": it exists and was not made by unwrapping a container (no unwrap marker " +
                           at.marker + "), so it may hold files of its own. Move it away, or set "
                           "LE_IMX_UNWRAP_ROOT to unwrap somewhere else.");
}

// Removes a temporary tree when the unwrap that writes it fails.
class TemporaryTree {
 public:
  explicit TemporaryTree(std::string path) : path_(std::move(path)) {}
  ~TemporaryTree() {
    if (!path_.empty()) rmTree(path_);
  }
  TemporaryTree(const TemporaryTree&) = delete;
  TemporaryTree& operator=(const TemporaryTree&) = delete;
  const std::string& path() const { return path_; }
  void release() { path_.clear(); }

 private:
  std::string path_;
};

// Large enough to copy the largest member in one read, and never more than kCopyBufferBytes: a
// container of small members needs no multi-megabyte buffer. Unnamed entries are never written,
// and their sizes are not checked against the file, so they do not count.
size_t copyBufferBytes(const std::vector<imx::Entry>& entries) {
  uint64_t largest = 1;
  for (const imx::Entry& e : entries)
    if (!e.name.empty()) largest = std::max(largest, e.size);
  return size_t(std::min<uint64_t>(largest, kCopyBufferBytes));
}

// Writes every member of the container into dir.
void extractInto(const std::string& container, const std::string& dir) {
  File f(std::fopen(container.c_str(), "rb"));
  if (!f) throw std::runtime_error("cannot open container " + container);
  std::vector<imx::Entry> entries = imx::readToc(f.get(), container);
  struct stat st;
  const off_t tocEnd = ftello(f.get());
  if (tocEnd < 0 || ::fstat(fileno(f.get()), &st) != 0) throw std::runtime_error("cannot open container " + container);
  imx::requireSoundLayout(entries, uint64_t(tocEnd), uint64_t(st.st_size), container);
  std::vector<char> buf(copyBufferBytes(entries));
  for (const imx::Entry& e : entries) {
    if (e.name.empty()) continue;
    if (isSyntheticManifest(f.get(), e)) continue;
    materialise(f.get(), container, e, dir, buf);
  }
}

void writeMarker(const std::string& marker, const std::string& stamp) {
  File m(std::fopen(marker.c_str(), "wb"));
  if (!m) throw std::runtime_error("cannot write unwrap marker " + marker);
  if (std::fwrite(stamp.data(), 1, stamp.size(), m.get()) != stamp.size() || std::fflush(m.get()) != 0)
    throw std::runtime_error("short write on unwrap marker " + marker);
}

// Moves the finished tree into place. The marker is written while no destination stands, so at no
// moment does a destination stand beside a marker that is not ours, nor a current stamp beside a
// tree that is not complete.
void install(TemporaryTree& tree, const UnwrapPlace& at, const std::string& stamp) {
  const std::string replaced = tree.path() + std::string(kReplacedSuffix);
  if (pathExists(at.dest) && std::rename(at.dest.c_str(), replaced.c_str()) != 0)
    throw std::runtime_error("cannot move the previous unwrap aside: " + at.dest);
  writeMarker(at.marker, stamp);
  if (std::rename(tree.path().c_str(), at.dest.c_str()) != 0) {
    std::remove(at.marker.c_str());
    throw std::runtime_error("cannot place unwrapped bundle " + at.dest);
  }
  tree.release();
  rmTree(replaced);
}

std::string unwrapOnce(const std::string& container) {
  const UnwrapPlace at = placeOf(container);
  std::lock_guard<std::mutex> lock(unwrapLock());
  const std::string stamp = imxUnwrapStamp(container);
  if (isDirectory(at.dest) && readMarker(at.marker) == stamp) return at.dest;
  requireReplaceable(at);
  if (!mkdirs(dirName(at.dest))) throw std::runtime_error("cannot create unwrap dir " + at.dest);
  clearStaleTemporaries(at.dest);
  TemporaryTree tree(temporaryOf(at.dest));
  if (::mkdir(tree.path().c_str(), 0755) != 0) {
    tree.release();
    throw std::runtime_error("cannot create unwrap dir " + tree.path());
  }
  extractInto(container, tree.path());
  install(tree, at, stamp);
  le::logPrintf("[le] unwrapped %s -> %s\n", container.c_str(), at.dest.c_str());
  return at.dest;
}

}  // namespace

std::string imxUnwrapStamp(const std::string& container) {
  // stat, not lstat: a container reached through a symbolic link must be re-unwrapped when the
  // file behind the link is replaced, which the link's own status never shows.
  struct stat st;
  if (::stat(container.c_str(), &st) != 0) throw std::runtime_error("cannot stat container " + container);
  long long ns = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  return std::string(kStampPrefix) + baseName(container) + " " + std::to_string((long long)st.st_size) + " " +
         std::to_string(ns) + " " + std::to_string((unsigned long long)st.st_ino);
}

std::string resolveBundlePath(const std::string& p) {
  if (p.empty()) return p;
  if (isDirectory(p) && !pathExists(rstripSlash(p) + ".imx_unwrapped")) return p;
  if (p.size() > 3 && endsWith(p, ".imx") && isImxV2File(p)) return unwrapOnce(p);
  std::string sibling = rstripSlash(p) + ".imx";
  if (isImxV2File(sibling)) return unwrapOnce(sibling);
  if (isImxV2File(p)) return unwrapOnce(p);
  // A file is never a bundle directory: a handle that names one, or whose ".imx" sibling is one,
  // meant a container, and the refusal says what is wrong with its header.
  if (!isDirectory(p)) {
    if (isRegularFile(p)) imx::requireV2Header(p);
    if (isRegularFile(sibling)) imx::requireV2Header(sibling);
  }
  return p;
}

}  // namespace le
