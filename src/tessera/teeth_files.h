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

// The whole file: "teeth: cannot open " + path when it does not open, "teeth: short read " + path
// when fewer bytes arrive than its size.
std::vector<uint8_t> readTeethBytes(const std::string& path);
std::string readTeethFile(const std::string& path);

}  // namespace le::tessera
