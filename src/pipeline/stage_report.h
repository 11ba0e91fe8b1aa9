// Counters of the pipeline's stages (render-and-admit, teeth, paste) and the report printed from
// them when LE_UTT_STAGE_REPORT is set.
#pragma once

#include <cstdint>
#include <string>

namespace le::utt {

struct StageCounters {
  int64_t speechRendered = 0;  // stage A: speech frames rendered and admitted
  double stageAMs = 0;         // their render-and-admit time
  double stageAWaitMs = 0;     // the queue-wait part of it
  int64_t jobsB = 0;           // jobs through the teeth stage
  double stageBMs = 0;         // borrow push time
  int64_t jobsC = 0;           // jobs composited by the paste thread
  double stageCMs = 0;         // their compositing time
  int64_t deliveredSpeech = 0;  // speech jobs published by the paste thread
  double deliverLatencyMs = 0;  // queueing to publication, summed over them
};

// The report's line, with its newline. pipe is 1 when the teeth stage runs on its own thread.
std::string stageReportLine(const StageCounters& c, int pipe);

}  // namespace le::utt
