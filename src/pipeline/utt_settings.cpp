#include "pipeline/utt_settings.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace le::utt {

namespace {

const char* envOrNull(const char* name) { return std::getenv(name); }

std::string steadyModelOf(const char* requested) {
  if (const char* env = envOrNull("LE_STEADY_MODEL")) return env;
  return requested && *requested ? requested : "b24_fp32";
}

bool hybridFromEnv() {
  const char* v = envOrNull("LE_UTT_HYBRID");
  return v && *v && std::string(v) != "0";
}

// Composite on a paste thread: by default for the audio-to-expression engine, whose frames arrive
// in bursts; LE_UTT_PIPELINE_PASTE decides when set (a decimal integer, non-zero is on, text that
// is not a number reads as 0).
bool pipelinedPasteFor(EngineKind kind) {
  if (const char* v = envOrNull("LE_UTT_PIPELINE_PASTE")) return std::strtol(v, nullptr, 10) != 0;
  return kind == EngineKind::kA2x;
}

// The teeth borrow runs on its own thread, handing finished frames to the paste thread, when paste
// is pipelined; LE_UTT_TEETH_THREAD=0 keeps it on the producer.
bool teethThreadFor(bool pipelinedPaste) {
  const char* v = envOrNull("LE_UTT_TEETH_THREAD");
  return pipelinedPaste && !(v && std::strtol(v, nullptr, 10) == 0 && *v);
}

}  // namespace

Settings resolveSettings(const le_utt_opts& opts, int sessionThreads) {
  if (!opts.motion_dir || !*opts.motion_dir) throw std::runtime_error("opts.motion_dir required");
  Settings s;
  s.motionDir = opts.motion_dir;
  s.threads = opts.threads < 1 ? sessionThreads : opts.threads;
  s.motionEp = opts.motionEp ? opts.motionEp : "";
  s.steadyModel = steadyModelOf(opts.steadyModel);
  if (opts.eager >= 1) {
    s.eager = opts.eager;
  } else {
    s.hybrid = opts.eager == -2 || hybridFromEnv();
  }
  // NaN reads as unset rather than as an utterance that never ends.
  if (opts.idleEndSeconds != 0 && !std::isnan(opts.idleEndSeconds)) s.idleEndMs = opts.idleEndSeconds * 1000.0;
  if (opts.rampFrames >= 1) s.rampFrames = opts.rampFrames;
  if (opts.interruptRampFrames >= 1) s.interruptRampFrames = opts.interruptRampFrames;
  s.engine = engineKindOf(s.motionDir);
  s.pipelinedPaste = pipelinedPasteFor(s.engine);
  s.teethThread = teethThreadFor(s.pipelinedPaste);
  return s;
}

}  // namespace le::utt
