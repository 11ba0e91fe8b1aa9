// What every command-line tool answers alike: --version names the tool and the library version it
// runs on.
#pragma once

#include <cstdio>

#include "le/le.h"

namespace le::tool {

// Prints "<tool> (le) <major>.<minor>.<patch>" on standard output.
inline void printVersion(const char* tool) {
  const unsigned v = le_version();
  std::printf("%s (le) %u.%u.%u\n", tool, v >> 16, (v >> 8) & 0xffu, v & 0xffu);
}

}  // namespace le::tool
