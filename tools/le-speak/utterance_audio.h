// Where the utterance's sound goes on the video's timeline: its first sample plays with the video
// frame that carries the utterance's speech frame 0, so the lips and the sound start together, and
// it stops at the first frame pulled after an interrupt. Silence everywhere else.
#pragma once

#include <cstdint>
#include <vector>

namespace le_speak {

class UtteranceAudio {
 public:
  // samples: the utterance at rate Hz; the video runs at fps frames a second.
  UtteranceAudio(std::vector<int16_t> samples, int rate, int fps);

  // The video frame (index in the written video) that carries speech frame 0.
  void startAt(int64_t videoFrame) { start_ = videoFrame; }
  // The first video frame after an interrupt: the sound stops there.
  void stopAt(int64_t videoFrame) { stop_ = videoFrame; }
  bool started() const { return start_ >= 0; }

  // The samples that play during video frame videoFrame (samplesPerFrame() of them).
  const int16_t* span(int64_t videoFrame);
  int samplesPerFrame() const { return perFrame_; }
  // The sound's length in video frames, rounded up.
  int64_t frames() const { return (int64_t(samples_.size()) + perFrame_ - 1) / perFrame_; }
  const std::vector<int16_t>& samples() const { return samples_; }

 private:
  std::vector<int16_t> samples_;
  std::vector<int16_t> span_;
  int perFrame_;
  int64_t start_ = -1, stop_ = -1;
};

}  // namespace le_speak
