#include "tessera/zip_directory.h"

#include <stdexcept>

namespace le::tessera {
namespace {

constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr size_t kEndSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr uint16_t kStored = 0;

uint16_t loadU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

uint32_t loadU32(const uint8_t* p) { return uint32_t(loadU16(p)) | (uint32_t(loadU16(p + 2)) << 16); }

// The end-of-central-directory record sits last unless an archive comment follows it; then it is
// found by scanning backwards for its signature.
size_t findEndRecord(std::span<const uint8_t> archive) {
  if (archive.size() < kEndSize) throw std::runtime_error("teeth: head .pt is not a zip");
  for (size_t at = archive.size() - kEndSize + 1; at-- > 0;)
    if (loadU32(archive.data() + at) == kEndSignature) return at;
  throw std::runtime_error("teeth: head .pt has no zip EOCD");
}

// Reads the central header at `at` and the local header it points to; returns the header's size.
size_t readEntry(std::span<const uint8_t> archive, uint64_t at, ZipEntry& entry) {
  const uint64_t size = archive.size();
  const uint8_t* base = archive.data();
  if (at + kCentralSize > size || loadU32(base + at) != kCentralSignature)
    throw std::runtime_error("teeth: head .pt central directory is malformed");
  const uint8_t* h = base + at;
  const uint16_t method = loadU16(h + 10);
  const uint32_t compressedSize = loadU32(h + 20), plainSize = loadU32(h + 24);
  const uint16_t nameLength = loadU16(h + 28), extraLength = loadU16(h + 30), commentLength = loadU16(h + 32);
  const uint64_t local = loadU32(h + 42);
  if (at + kCentralSize + nameLength > size)
    throw std::runtime_error("teeth: head .pt central directory is malformed");
  entry.name.assign(reinterpret_cast<const char*>(h + kCentralSize), nameLength);
  if (method != kStored)
    throw std::runtime_error(
        "teeth: head .pt entry is DEFLATEd; torch writes ZIP_STORED — refusing to guess at a compressed member");
  if (local + kLocalSize > size) throw std::runtime_error("teeth: head .pt local header out of range");
  entry.dataOffset = local + kLocalSize + loadU16(base + local + 26) + loadU16(base + local + 28);
  entry.dataSize = plainSize != 0 ? plainSize : compressedSize;
  if (entry.dataOffset + entry.dataSize > size) throw std::runtime_error("teeth: head .pt entry out of range");
  return kCentralSize + nameLength + extraLength + commentLength;
}

}  // namespace

std::vector<ZipEntry> readZipDirectory(std::span<const uint8_t> archive) {
  const size_t end = findEndRecord(archive);
  const uint16_t count = loadU16(archive.data() + end + 10);
  uint64_t at = loadU32(archive.data() + end + 16);
  std::vector<ZipEntry> entries(count);
  for (ZipEntry& entry : entries) at += readEntry(archive, at, entry);
  return entries;
}

std::span<const uint8_t> zipEntryData(std::span<const uint8_t> archive, const ZipEntry& entry) {
  return archive.subspan(entry.dataOffset, entry.dataSize);
}

}  // namespace le::tessera
