#include "report.h"

#include <cstdio>
#include <mutex>

namespace le_serve {

void report(const std::string& line) {
  static std::mutex lock;
  const std::lock_guard<std::mutex> hold(lock);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace le_serve
