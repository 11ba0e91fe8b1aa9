#include "utterance_audio.h"

#include <algorithm>

namespace le_speak {

UtteranceAudio::UtteranceAudio(std::vector<int16_t> samples, int rate, int fps)
    : samples_(std::move(samples)), span_(size_t(rate / fps)), perFrame_(rate / fps) {}

const int16_t* UtteranceAudio::span(int64_t videoFrame) {
  std::fill(span_.begin(), span_.end(), int16_t(0));
  const bool playing = start_ >= 0 && videoFrame >= start_ && (stop_ < 0 || videoFrame < stop_);
  if (!playing) return span_.data();
  const size_t from = size_t(videoFrame - start_) * size_t(perFrame_);
  if (from < samples_.size()) {
    const size_t count = std::min(size_t(perFrame_), samples_.size() - from);
    std::copy_n(samples_.begin() + long(from), count, span_.begin());
  }
  return span_.data();
}

}  // namespace le_speak
