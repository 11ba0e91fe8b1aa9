#include "bundle/imx_container.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "bundle/path_util.h"

namespace le {
namespace {

constexpr unsigned char kMagic[4] = {'I', 'M', 'X', 0};
constexpr uint16_t kVersion = 2;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

uint16_t loadU16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }

uint64_t loadU64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void storeU16(std::string& out, uint16_t v) {
  out.push_back(char(v & 0xff));
  out.push_back(char(v >> 8));
}

void storeU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(char((v >> (8 * i)) & 0xff));
}

void listFiles(const std::string& dir, const std::string& rel, std::vector<std::string>& out) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) throw std::runtime_error("le-imx: cannot open directory " + dir);
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = dir + "/" + name, relPath = rel.empty() ? name : rel + "/" + name;
    if (isDirectory(path)) listFiles(path, relPath, out);
    else if (isRegularFile(path)) out.push_back(relPath);
  }
}

// The 8 header bytes of a container, of which `got` arrived.
void checkHeader(const unsigned char* head, size_t got, const std::string& container) {
  if (got != 8 || std::memcmp(head, kMagic, 4) != 0)
    throw std::runtime_error(container + ": not an IMX\\0 container");
  const uint16_t version = loadU16(head + 4);
  if (version != kVersion)
    throw std::runtime_error(container + ": unsupported IMX container version " + std::to_string(version));
}

}  // namespace

bool isImxV2File(const std::string& path) {
  if (path.empty() || !isRegularFile(path)) return false;
  File f(std::fopen(path.c_str(), "rb"));
  unsigned char head[8];
  if (!f || std::fread(head, 1, 8, f.get()) != 8) return false;
  return std::memcmp(head, kMagic, 4) == 0 && loadU16(head + 4) == kVersion;
}

namespace imx {

void requireV2Header(const std::string& container) {
  File f(std::fopen(container.c_str(), "rb"));
  if (!f) throw std::runtime_error("cannot open container " + container);
  unsigned char head[8];
  checkHeader(head, std::fread(head, 1, 8, f.get()), container);
}

std::vector<Entry> readToc(std::FILE* f, const std::string& container) {
  unsigned char head[8];
  checkHeader(head, std::fread(head, 1, 8, f), container);
  uint16_t count = loadU16(head + 6);
  // The count is the file's word until the entries arrive: a short file that claims thousands of
  // members is refused at its end without reserving room for all of them first.
  std::vector<Entry> entries;
  entries.reserve(std::min<uint16_t>(count, 64));
  for (uint16_t i = 0; i < count; ++i) {
    unsigned char buf[16];
    if (std::fread(buf, 1, 2, f) != 2)
      throw std::runtime_error(container + ": truncated TOC at member " + std::to_string(i));
    std::string name(loadU16(buf), '\0');
    if (!name.empty() && std::fread(name.data(), 1, name.size(), f) != name.size())
      throw std::runtime_error(container + ": truncated member name at " + std::to_string(i));
    if (std::fread(buf, 1, 16, f) != 16)
      throw std::runtime_error(container + ": truncated TOC offsets at member " + name);
    entries.push_back(Entry{std::move(name), loadU64(buf), loadU64(buf + 8)});
  }
  return entries;
}

void packDirectory(const std::string& dir, const std::string& out) {
  std::vector<std::string> files;
  listFiles(rstripSlash(dir), "", files);
  if (files.size() > 0xffff) throw std::runtime_error("le-imx: more than 65535 members in " + dir);

  std::vector<uint64_t> sizes;
  uint64_t tocBytes = 8;
  for (const std::string& name : files) {
    if (name.size() > 0xffff) throw std::runtime_error("le-imx: member name too long: " + name);
    struct stat st;
    if (::stat((dir + "/" + name).c_str(), &st) != 0) throw std::runtime_error("le-imx: cannot stat " + name);
    sizes.push_back(uint64_t(st.st_size));
    tocBytes += 2 + name.size() + 16;
  }

  std::string header(reinterpret_cast<const char*>(kMagic), 4);
  storeU16(header, kVersion);
  storeU16(header, uint16_t(files.size()));
  uint64_t offset = tocBytes;
  for (size_t i = 0; i < files.size(); ++i) {
    storeU16(header, uint16_t(files[i].size()));
    header += files[i];
    storeU64(header, offset);
    storeU64(header, sizes[i]);
    offset += sizes[i];
  }

  std::string part = out + ".part";
  File o(std::fopen(part.c_str(), "wb"));
  if (!o) throw std::runtime_error("le-imx: cannot write " + part);
  bool ok = std::fwrite(header.data(), 1, header.size(), o.get()) == header.size();
  std::vector<char> buf(1 << 20);
  for (size_t i = 0; ok && i < files.size(); ++i) {
    File in(std::fopen((dir + "/" + files[i]).c_str(), "rb"));
    if (!in) throw std::runtime_error("le-imx: cannot read " + files[i]);
    uint64_t left = sizes[i];
    while (ok && left > 0) {
      size_t n = std::fread(buf.data(), 1, std::min<uint64_t>(left, buf.size()), in.get());
      if (n == 0) throw std::runtime_error("le-imx: " + files[i] + " shrank while packing");
      ok = std::fwrite(buf.data(), 1, n, o.get()) == n;
      left -= n;
    }
  }
  ok = ok && std::fflush(o.get()) == 0;
  o.reset();
  if (!ok || std::rename(part.c_str(), out.c_str()) != 0) {
    std::remove(part.c_str());
    throw std::runtime_error("le-imx: cannot write " + out);
  }
}

}  // namespace imx
}  // namespace le
