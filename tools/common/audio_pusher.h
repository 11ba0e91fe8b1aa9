// The host's audio side: pushes an utterance into a pipeline in 20 ms chunks on its own thread,
// then ends the utterance.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "le/le_utt.h"

namespace le::tool {

class AudioPusher {
 public:
  // Samples per chunk: 20 ms at 16 kHz.
  static constexpr int kChunk = 320;

  AudioPusher(le_utt* utt, const std::vector<int16_t>& audio) : utt_(utt), audio_(audio) {}
  // Stops a push still running and waits for the thread.
  ~AudioPusher();
  AudioPusher(const AudioPusher&) = delete;
  AudioPusher& operator=(const AudioPusher&) = delete;

  // Starts pushing: chunk i once (i + 1) x 20 ms have passed, as a microphone delivers it, or every
  // chunk at once when fast. le_utt_end_utterance follows the last chunk.
  void start(bool fast);
  bool started() const { return thread_.joinable(); }
  // True once the first chunk was pushed (or the utterance ended without one).
  bool pushing() const { return pushing_.load(); }
  // True once the utterance was ended.
  bool done() const { return done_.load(); }

 private:
  void run(bool fast);

  le_utt* utt_;
  const std::vector<int16_t>& audio_;
  std::atomic<bool> stop_{false}, done_{false}, pushing_{false};
  std::thread thread_;
};

}  // namespace le::tool
