// Reading the teeth members' files: whole reads with the teeth texts, and the bundle's manifest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace le::tessera {

// True when path is a regular file that opens for reading.
bool opensForReading(const std::string& path);

// The first of root + "/manifest.json" and root + "/meta.json" that opens for reading, or "".
std::string findTeethManifest(const std::string& root);

// The most bytes read from a teeth JSON text (manifest, sidecar, head config) and from the blend
// head's weights, a network of a few thousand parameters.
inline constexpr uint64_t kMaxTeethTextBytes = uint64_t(16) << 20;
inline constexpr uint64_t kMaxHeadWeightsBytes = uint64_t(256) << 20;

// The whole file, a regular file of at most maxBytes bytes: "teeth: cannot open " + path when it
// does not open or is not a regular file (a FIFO is refused, never waited on), "teeth: " + path +
// " holds <n> bytes, which exceeds the limit of <maxBytes> for " + what before anything is
// allocated, "teeth: short read " + path when fewer bytes arrive than its size.
std::vector<uint8_t> readTeethBytes(const std::string& path, uint64_t maxBytes, const std::string& what);
std::string readTeethFile(const std::string& path, const std::string& what);

}  // namespace le::tessera
