#include "tessera/teeth_files.h"

#include <optional>
#include <stdexcept>

#include "bundle/member_file.h"

namespace le::tessera {

namespace {

// The file at path opened for reading, or nullopt when it does not open or is not a regular file.
std::optional<RegularFile> openRegular(const std::string& path) {
  try {
    return std::optional<RegularFile>(std::in_place, path);
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

}  // namespace

bool opensForReading(const std::string& path) { return openRegular(path).has_value(); }

std::string findTeethManifest(const std::string& root) {
  for (const char* name : {"manifest.json", "meta.json"})
    if (opensForReading(root + "/" + name)) return root + "/" + name;
  return {};
}

std::vector<uint8_t> readTeethBytes(const std::string& path, uint64_t maxBytes, const std::string& what) {
  const std::optional<RegularFile> file = openRegular(path);
  if (!file) throw std::runtime_error("teeth: cannot open " + path);
  if (file->size() > maxBytes)
    throw std::runtime_error("teeth: " + path + " holds " + std::to_string(file->size()) +
                             " bytes, which exceeds the limit of " + std::to_string(maxBytes) + " for " + what);
  std::vector<uint8_t> bytes(size_t(file->size()));
  if (!file->readFully(bytes.data(), bytes.size())) throw std::runtime_error("teeth: short read " + path);
  return bytes;
}

std::string readTeethFile(const std::string& path, const std::string& what) {
  const std::vector<uint8_t> bytes = readTeethBytes(path, kMaxTeethTextBytes, what);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace le::tessera
