#include "core/ff_log.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <string>

#include "core/log.h"

namespace le {
namespace {

// FFmpeg writes one line in several calls; each thread gathers its pieces until the newline. A line
// that never ends is cut at this length rather than held without bound.
constexpr size_t kMaxPendingLine = 4096;
thread_local std::string t_pending;
thread_local int t_printPrefix = 1;

void forwardFfmpegLine(void* context, int level, const char* fmt, va_list args) {
  if (level > av_log_get_level()) return;
  char piece[1024];
  av_log_format_line2(context, level, fmt, args, piece, sizeof piece, &t_printPrefix);
  t_pending += piece;
  const bool ended = !t_pending.empty() && t_pending.back() == '\n';
  if (!ended && t_pending.size() < kMaxPendingLine) return;
  if (ended) t_pending.pop_back();
  logLine((level <= AV_LOG_WARNING ? "[ffmpeg] WARNING " : "[ffmpeg] ") + t_pending);
  t_pending.clear();
}

}  // namespace

void routeFfmpegLog(bool throughHook) {
  av_log_set_callback(throughHook ? forwardFfmpegLine : av_log_default_callback);
}

}  // namespace le
