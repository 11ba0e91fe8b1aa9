#include "common/audio_pusher.h"

#include <algorithm>
#include <chrono>

namespace le::tool {

AudioPusher::~AudioPusher() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void AudioPusher::start(bool fast) {
  if (!thread_.joinable()) thread_ = std::thread(&AudioPusher::run, this, fast);
}

void AudioPusher::run(bool fast) {
  using Clock = std::chrono::steady_clock;
  const auto begin = Clock::now();
  const size_t total = audio_.size();
  for (size_t at = 0, chunk = 0; at < total && !stop_; at += kChunk, ++chunk) {
    if (!fast) std::this_thread::sleep_until(begin + std::chrono::milliseconds(20 * (chunk + 1)));
    le_utt_push_audio(utt_, audio_.data() + at, int(std::min<size_t>(kChunk, total - at)));
    pushing_ = true;
  }
  le_utt_end_utterance(utt_);
  pushing_ = true;
  done_ = true;
}

}  // namespace le::tool
