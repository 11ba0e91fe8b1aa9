// The options of an utterance pipeline with every default and environment override applied.
#pragma once

#include <string>

#include "le/le_utt.h"
#include "pipeline/utt_engine.h"

namespace le::utt {

struct Settings {
  std::string motionDir;
  int threads = 0;
  std::string motionEp;
  std::string steadyModel;  // "-": no chunk renderer
  int eager = -1;           // the engine's eager count outside hybrid mode
  bool hybrid = false;
  double idleEndMs = 600.0;  // negative: only le_utt_end_utterance ends an utterance
  int rampFrames = 6;
  int interruptRampFrames = 4;
  EngineKind engine = EngineKind::kMotion;
  bool pipelinedPaste = false;
  bool teethThread = false;  // an attached borrow runs on the teeth thread (pipelined paste only)
};

// Throws "opts.motion_dir required". sessionThreads stands in for threads < 1.
Settings resolveSettings(const le_utt_opts& opts, int sessionThreads);

}  // namespace le::utt
