// The closing summary of a run on standard output.
#pragma once

#include <string>

#include "host_loop.h"

namespace le_speak {

struct OutputInfo {
  std::string path, videoEncoder;
  int width = 0, height = 0, fps = 25;
  double audioSeconds = 0.0;
  bool fast = false;
};

void printSummary(const HostReport& report, const OutputInfo& out);

}  // namespace le_speak
