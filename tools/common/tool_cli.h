// What every command-line tool answers alike: --version names the tool and the library version it
// runs on.
#pragma once

#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "le/le.h"

namespace le::tool {

// Prints "<tool> (le) <major>.<minor>.<patch>" on standard output.
inline void printVersion(const char* tool) {
  const unsigned v = le_version();
  std::printf("%s (le) %u.%u.%u\n", tool, v >> 16, (v >> 8) & 0xffu, v & 0xffu);
}

// A lone --help (or -h) prints usage and a lone --version the version, both on standard output.
// Returns true when it answered, and the tool then exits 0.
inline bool answeredHelpOrVersion(int argc, char** argv, const char* tool, const char* usage) {
  if (argc != 2) return false;
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(usage, stdout);
    return true;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    printVersion(tool);
    return true;
  }
  return false;
}

// `text` read whole as a number: nullopt when it is not one or has anything after the number.
inline std::optional<int> wholeInt(const std::string& text) {
  try {
    size_t used = 0;
    const int v = std::stoi(text, &used);
    if (used == text.size()) return v;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

inline std::optional<double> wholeDouble(const std::string& text) {
  try {
    size_t used = 0;
    const double v = std::stod(text, &used);
    if (used == text.size()) return v;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

}  // namespace le::tool
