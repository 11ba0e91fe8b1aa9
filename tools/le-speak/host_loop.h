// The host's two clocks around a pipeline: a pusher thread that feeds the utterance in 20 ms
// chunks (at real-time pace, or all at once with fast), and the pull loop on the calling thread
// that takes frames on a 25 fps clock (or as fast as they come with fast) until the utterance has
// been spoken, has ramped back to idle, and a short idle tail has followed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "le/le_utt.h"

namespace le_speak {

struct HostOptions {
  bool fast = false;
  // Interrupt once this many seconds of the utterance's video (from its speech frame 0) were
  // pulled; negative: never.
  double interruptAt = -1.0;
  // Idle frames pulled before the first push, and after idle frames resume.
  int leadInFrames = 12;
  int tailFrames = 12;
};

// One pulled frame as the loop hands it on.
struct PulledFrame {
  const uint8_t* rgb;
  le_utt_frame_info info;
  bool firstAfterInterrupt;  // the first frame pulled after le_utt_interrupt
};

struct HostReport {
  int64_t framesByKind[3] = {};  // idle, speech, ramp
  int64_t latePulls = 0;         // the 25 fps clock found the ring empty
  int64_t latePullsBeforeSpeech = 0;
  bool interrupted = false;
  double wallSeconds = 0.0;
  le_utt_stats stats{};
  std::string renderStatus;  // the last render failure, empty when none
  int64_t renderFailures = 0;
};

using FrameSink = std::function<void(const PulledFrame&)>;

// Runs the utterance through utt (which must be ready) and hands every pulled frame of frameBytes
// bytes to sink, in order. Throws std::runtime_error when a fatal render failure is recorded or
// the pipeline delivers no speech long after the audio ended.
HostReport runHost(le_utt* utt, const std::vector<int16_t>& audio, size_t frameBytes, const HostOptions& options,
                   const FrameSink& sink);

}  // namespace le_speak
