#include "audio/motion_dump.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/log.h"

namespace le::audio {

namespace {
// Files appended frame by frame; a new utterance starts them empty.
constexpr const char* kAppended[] = {"xsla.bin", "xdla.bin", "xs.bin", "xd.bin"};
}  // namespace

MotionDump::MotionDump() {
  const char* dir = std::getenv("LE_MOTION_DUMP");
  if (!dir || !*dir) return;
  dir_ = dir;
  std::error_code ignored;  // a directory that cannot be made shows as a failed write
  std::filesystem::create_directories(dir_, ignored);
  le::logPrintf("[le_motion] LE_MOTION_DUMP: debug dumps go to %s", dir_.c_str());
}

void MotionDump::write(const char* name, const float* data, size_t n) { put(name, data, n, "wb"); }

void MotionDump::append(const char* name, const float* data, size_t n) { put(name, data, n, "ab"); }

void MotionDump::restart() {
  firstWindow_ = firstChunk_ = true;
  if (!on()) return;
  for (const char* name : kAppended) std::remove((dir_ + "/" + name).c_str());
}

void MotionDump::put(const char* name, const float* data, size_t n, const char* mode) {
  if (!on()) return;
  const std::string path = dir_ + "/" + name;
  FILE* f = std::fopen(path.c_str(), mode);
  bool ok = f && std::fwrite(data, sizeof(float), n, f) == n;
  if (f) ok = std::fclose(f) == 0 && ok;
  if (!ok && !warned_) {
    // A dump is a debugging aid: failing to write one never stops the engine.
    le::logPrintf("[le_motion] WARNING: cannot write dump %s (%s); further dump failures are not reported",
                  path.c_str(), std::strerror(errno));
    warned_ = true;
  }
}

}  // namespace le::audio
