// The library's one path for diagnostic lines: the host's hook when one is set (le_log_set),
// standard error otherwise.
#pragma once

#include <string>

namespace le {

// Emits one diagnostic line. `line` carries no trailing newline; the default sink adds one and
// writes the whole line in a single call so that lines of different threads never interleave.
void logLine(const std::string& line);

// printf-style form of logLine.
void logPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace le
