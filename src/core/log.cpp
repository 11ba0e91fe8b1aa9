// The diagnostic sink and the export that replaces it.
#include "core/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "core/ff_log.h"
#include "le/le.h"

namespace le {
namespace {

struct LogHook {
  std::mutex mutex;
  le_log_fn fn = nullptr;  // guarded by mutex
  void* user = nullptr;    // guarded by mutex
};

LogHook& hook() {
  static LogHook instance;
  return instance;
}

void writeToStderr(const std::string& line) {
  std::string withNewline = line;
  withNewline.push_back('\n');
  std::fwrite(withNewline.data(), 1, withNewline.size(), stderr);
}

}  // namespace

void logLine(const std::string& line) {
  le_log_fn fn;
  void* user;
  {
    std::lock_guard<std::mutex> lock(hook().mutex);
    fn = hook().fn;
    user = hook().user;
  }
  if (fn) {
    fn(line.c_str(), user);
  } else {
    writeToStderr(line);
  }
}

void logPrintf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, fmt, measure);
  va_end(measure);
  std::string line(length > 0 ? size_t(length) : 0, '\0');
  if (length > 0) std::vsnprintf(line.data(), line.size() + 1, fmt, args);
  va_end(args);
  // Callers format lines the way they always printed them; the sink owns the newline.
  while (!line.empty() && line.back() == '\n') line.pop_back();
  logLine(line);
}

}  // namespace le

extern "C" LE_API void le_log_set(le_log_fn fn, void* user) {
  std::lock_guard<std::mutex> lock(le::hook().mutex);
  le::hook().fn = fn;
  le::hook().user = user;
  le::routeFfmpegLog(fn != nullptr);
}
