// libFuzzer target over the IMX container unwrap: every input is a container, held in a memory file
// and unwrapped through the bundle handle into a scratch folder. Either the unwrap is refused
// with one of the reader's messages and leaves the folder empty, or the unwrapped bundle holds
// exactly the members a plain reading of the table of contents names, each with its payload's
// bytes. Anything else (a crash, a hang, an out-of-bounds access or a leak under the sanitizers,
// another exception, a stray file, a member with other bytes) is a finding.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bundle/bundle_path.h"
#include "fuzz/imx_plain_toc.h"
#include "le/le.h"

namespace {

namespace fs = std::filesystem;

using le::fuzz::PlainMember;
using le::fuzz::plainToc;

bool isSynthetic(const PlainMember& m, const uint8_t* data, size_t size) {
  if (m.name != "manifest.json" || m.size < 1 || m.size > (4u << 20) || m.offset > size || size - m.offset < m.size)
    return false;
  const std::string text(reinterpret_cast<const char*>(data) + m.offset, size_t(m.size));
  return text.find("_imx_synthetic_manifest") != std::string::npos;
}

// Member path (relative, normalised) -> the bytes the last entry written there carries.
std::map<std::string, std::string> expectedFiles(const std::vector<PlainMember>& toc, const uint8_t* data,
                                                 size_t size) {
  std::map<std::string, std::string> files;
  for (const PlainMember& m : toc) {
    if (m.name.empty() || isSynthetic(m, data, size)) continue;
    std::string& bytes = files[fs::path(m.name).lexically_normal().generic_string()];
    bytes.clear();
    if (m.size == 0) continue;  // an empty member is written wherever its offset points
    if (m.offset > size || size - m.offset < m.size) std::abort();  // the unwrap should have refused it
    bytes.assign(reinterpret_cast<const char*>(data) + m.offset, size_t(m.size));
  }
  return files;
}

std::string fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void checkUnwrapped(const fs::path& root, const std::map<std::string, std::string>& expected) {
  size_t files = 0;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    if (e.is_directory()) continue;
    const auto want = expected.find(e.path().lexically_relative(root).generic_string());
    if (!e.is_regular_file() || want == expected.end() || fileBytes(e.path()) != want->second) std::abort();
    ++files;
  }
  if (files != expected.size()) std::abort();
}

bool isReaderRefusal(const std::string& text, const std::string& container) {
  static const char* const kContainerMessages[] = {
      ": not an IMX\\0 container", ": unsupported IMX container version ", ": truncated TOC at member ",
      ": truncated member name at ", ": truncated TOC offsets at member ", ": refusing unsafe member name '",
      ": cannot seek to member ", ": truncated payload for member ",
      // The layout check: a name twice, a file where a folder is needed, a payload inside the table
      // of contents, payloads that share bytes.
      ": member '", ": members '"};
  for (const char* message : kContainerMessages)
    if (text.rfind(container + message, 0) == 0) return true;
  // A member whose path another member's file or folder already takes.
  for (const char* prefix : {"cannot create ", "cannot write ", "cannot place member "})
    if (text.rfind(prefix, 0) == 0) return true;
  return false;
}

void dropLine(const char*, void*) {}

// The memory file the input is written into and the folder it is unwrapped into.
struct Scratch {
  int fd = -1;
  std::string container;
  fs::path root;

  Scratch() {
    fd = memfd_create("imx_fuzz", MFD_CLOEXEC);
    container = "/proc/self/fd/" + std::to_string(fd);
    std::string pattern = (fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string()) +
                          "/le_imx_fuzz_XXXXXX";
    if (fd < 0 || !mkdtemp(pattern.data())) std::abort();
    root = pattern;
    setenv("LE_IMX_UNWRAP_ROOT", root.c_str(), 1);
    le_log_set(dropLine, nullptr);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  void hold(const uint8_t* data, size_t size) const {
    if (ftruncate(fd, 0) != 0 || (size > 0 && pwrite(fd, data, size, 0) != ssize_t(size))) std::abort();
  }
  // Empties the folder; false when the unwrap had left anything in it.
  bool clear() const {
    bool empty = true;
    for (const fs::directory_entry& e : fs::directory_iterator(root)) {
      empty = false;
      fs::remove_all(e.path());
    }
    return empty;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Scratch scratch;
  scratch.hold(data, size);
  try {
    const fs::path unwrapped = le::resolveBundlePath(scratch.container);
    const std::optional<std::vector<PlainMember>> toc = plainToc(data, size);
    if (!toc || unwrapped.parent_path() != scratch.root) std::abort();
    checkUnwrapped(unwrapped, expectedFiles(*toc, data, size));
    scratch.clear();
  } catch (const std::runtime_error& e) {
    if (!isReaderRefusal(e.what(), scratch.container) || !scratch.clear()) std::abort();
  }
  return 0;
}
