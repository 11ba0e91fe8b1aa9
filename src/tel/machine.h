// What a telemetry snapshot says about the machine it was built on.
#pragma once

#include <cstdint>
#include <string>

namespace le::tel {

struct MachineDescription {
  std::string os;            // "linux"
  std::string os_version;    // kernel release; empty when uname fails
  std::string device_model;  // always empty: the host may record one as a text value
  std::string arch;          // machine name; empty when uname fails
  unsigned cpu_cores = 0;    // hardware threads; 0 when the standard library cannot tell
  uint64_t ram_bytes = 0;    // total RAM; 0 when sysinfo fails
};

// Asks the system (uname, the hardware concurrency, sysinfo). Callers cache the result: none of it
// changes while the process runs.
MachineDescription describeMachine();

}  // namespace le::tel
