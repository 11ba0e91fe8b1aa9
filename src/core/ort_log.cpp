#include "core/ort_log.h"

#include "core/log.h"

namespace le {

void ortLog(void*, OrtLoggingLevel severity, const char* category, const char*, const char*, const char* message) {
  static const char* const kSeverity[] = {"verbose", "info", "warning", "error", "fatal"};
  const int s = int(severity);
  logPrintf("[onnxruntime %s] %s: %s", s >= 0 && s <= 4 ? kSeverity[s] : "?", category ? category : "",
            message ? message : "");
}

}  // namespace le
