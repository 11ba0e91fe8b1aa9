// Collects the library's diagnostic lines (through the host's log hook) while it lives.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "le/le.h"

namespace le::test {

class LogCapture {
 public:
  LogCapture() { le_log_set(&LogCapture::take, this); }
  ~LogCapture() { le_log_set(nullptr, nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Whether any line so far holds `part`.
  bool saw(const std::string& part) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& line : lines_)
      if (line.find(part) != std::string::npos) return true;
    return false;
  }

  // Every line so far, each ended by a newline.
  std::string all() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const std::string& line : lines_) text += line + "\n";
    return text;
  }

 private:
  static void take(const char* line, void* user) {
    auto* self = static_cast<LogCapture*>(user);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.push_back(line);
  }
  std::mutex mutex_;
  std::vector<std::string> lines_;  // guarded by mutex_
};

}  // namespace le::test
