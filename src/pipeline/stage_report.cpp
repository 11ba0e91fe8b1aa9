#include "pipeline/stage_report.h"

#include <cstdio>

namespace le::utt {

namespace {

double per(double sum, int64_t count) { return count ? sum / double(count) : 0.0; }

}  // namespace

std::string stageReportLine(const StageCounters& c, int pipe) {
  char line[640];
  if (c.jobsC == 0) {
    std::snprintf(line, sizeof line,
                  "[le_utt-stage] MEASURED NOTHING \xe2\x80\x94 the stage report was asked for and the paste-job "
                  "counter never advanced (pipe=%d jobsB=%lld jobsC=0, %lld speech frames delivered). "
                  "stageA/stageB/stageC and the deliver latency are NOT reported rather than reported as zero: "
                  "on this path the paste does not run through the counted queue.\n",
                  pipe, static_cast<long long>(c.jobsB), static_cast<long long>(c.deliveredSpeech));
    return line;
  }
  const double stageA = per(c.stageAMs, c.speechRendered);
  const double stageAWait = per(c.stageAWaitMs, c.speechRendered);
  std::snprintf(line, sizeof line,
                "[le_utt-stage] pipe=%d jobsB=%lld jobsC=%lld stageA_ms=%.3f stageA_work_ms=%.3f "
                "stageA_wait_ms=%.3f stageB_ms=%.3f stageC_ms=%.3f deliver_lat_ms=%.3f over %lld speech frames\n",
                pipe, static_cast<long long>(c.jobsB), static_cast<long long>(c.jobsC), stageA, stageA - stageAWait,
                stageAWait, per(c.stageBMs, c.jobsB), per(c.stageCMs, c.jobsC), per(c.deliverLatencyMs, c.deliveredSpeech),
                static_cast<long long>(c.deliveredSpeech));
  return line;
}

}  // namespace le::utt
