#include "summary.h"

#include <cstdio>

namespace le_speak {

void printSummary(const HostReport& r, const OutputInfo& out) {
  const int64_t frames = r.framesByKind[0] + r.framesByKind[1] + r.framesByKind[2];
  const double videoSeconds = double(frames) / out.fps;
  std::printf("le-speak: %lld frames -> %s (%dx%d, %d fps, %s + aac, %.2f s)\n", (long long)frames, out.path.c_str(),
              out.width, out.height, out.fps, out.videoEncoder.c_str(), videoSeconds);
  std::printf("  frames       idle %lld, speech %lld, ramp %lld%s\n", (long long)r.framesByKind[0],
              (long long)r.framesByKind[1], (long long)r.framesByKind[2], r.interrupted ? " (interrupted)" : "");
  std::printf("  speech       %.2f s of audio; first speech frame %.1f ms after the first push\n", out.audioSeconds,
              r.stats.lastLatencyMs);
  if (out.fast)
    std::printf("  late pulls   none counted (--fast pulls whenever a frame is ready)\n");
  else
    std::printf("  late pulls   %lld (%lld before the first speech frame)\n", (long long)r.latePulls,
                (long long)r.latePullsBeforeSpeech);
  std::printf("  render       %.2f ms per speech frame\n", r.stats.renderMsEma);
  if (r.renderFailures == 0)
    std::printf("  status       ok\n");
  else
    std::printf("  status       %lld render failures, the last: %s\n", (long long)r.renderFailures,
                r.renderStatus.c_str());
  std::printf("  wall         %.2f s (%.2fx real time)\n", r.wallSeconds,
              r.wallSeconds > 0 ? videoSeconds / r.wallSeconds : 0.0);
}

}  // namespace le_speak
