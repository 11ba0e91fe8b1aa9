#include "tel/machine.h"

#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <thread>

namespace le::tel {

MachineDescription describeMachine() {
  MachineDescription machine;
  machine.os = "linux";
  struct utsname names {};
  if (uname(&names) == 0) {
    machine.os_version = names.release;
    machine.arch = names.machine;
  }
  machine.cpu_cores = std::thread::hardware_concurrency();
  struct sysinfo memory {};
  if (sysinfo(&memory) == 0) {
    machine.ram_bytes = static_cast<uint64_t>(memory.totalram) * memory.mem_unit;
  }
  return machine;
}

}  // namespace le::tel
