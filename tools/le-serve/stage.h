// The pipeline as the server drives it: utterances from whole recordings (pushed in 20 ms chunks at
// the pace a microphone delivers them) or from live microphone chunks, interrupts, and one frame
// pulled per turn of the server's 25 fps clock. Nothing here waits on the pipeline's threads.
// Every member is called from the server's one network thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/audio_pusher.h"
#include "le/le_utt.h"

namespace le_serve {

// What the stats panel shows of the pipeline.
struct StageFigures {
  le_utt_stats stats{};
  int64_t latePulls = 0;  // turns of the clock that found no finished frame
  int64_t renderFailures = 0;
  std::string renderStatus;  // the last render failure, empty when none
  bool teeth = false;        // a teeth borrow is attached
  int64_t teethBorrowed = 0, teethRefused = 0;
  double teethWeight = 0.0;  // the blend head's average synthesis weight
};

class Stage {
 public:
  Stage(le_utt* utt, int width, int height, bool teeth);
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  // Stops whatever is being said and starts saying audio (16 kHz mono).
  void say(std::vector<int16_t> audio);
  // Pushes live microphone samples (16 kHz mono); the first chunk stops a recording being said and
  // starts an utterance of its own.
  void listen(const int16_t* samples, int count);
  // Ends the microphone's utterance once its audio is rendered.
  void endListening();
  // Stops the utterance, drops its undelivered frames and ramps back to idle.
  void interrupt();

  // One turn of the clock: the oldest finished frame into frame() and true, or false (a late turn)
  // when none waits.
  bool pull(le_utt_frame_info& info);
  const std::vector<uint8_t>& frame() const { return frame_; }
  int width() const { return width_; }
  int height() const { return height_; }
  StageFigures figures() const;

 private:
  // True while an utterance is pushed, rendered or ramped.
  bool busy() const;
  void stopRecording();

  le_utt* utt_;
  int width_, height_;
  bool teeth_;
  std::vector<uint8_t> frame_;
  // The recording being said; the pusher reads it until it is stopped.
  std::vector<int16_t> recording_;
  std::unique_ptr<le::tool::AudioPusher> pusher_;
  bool listening_ = false;
  int64_t latePulls_ = 0;
};

}  // namespace le_serve
