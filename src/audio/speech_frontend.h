// The motion generator's speech frontend: one window per 5 frames, from audio to the log-mel block,
// through the student speech encoder and its de-standardisation, to 5 conditioning rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/log_mel.h"
#include "audio/motion_dir.h"
#include "audio/motion_nets.h"

namespace le::audio {

class SpeechFrontend {
 public:
  // Keeps references to tables and nets, which must outlive the frontend.
  SpeechFrontend(const MotionTables& tables, MotionNets& nets);

  // Window w (a frame index, a multiple of 5) over the n samples received: the span of 6480
  // samples from w * 640 - 2000 (zeros outside the audio), its log-mel block, the encoder's 20
  // feature rows, and the conditioning rows of frames w to w + 4 (5 x 1103 floats) into rows.
  void window(const float* audio, size_t n, int64_t w, float* rows);

  // The last window's mel block (1680 floats) and de-standardised features (20 x 1024).
  const std::vector<float>& mel() const { return mel_; }
  const std::vector<float>& features() const { return features_; }

 private:
  void conditioningRow(int64_t frame, const float* featA, const float* featB, float* row) const;

  const MotionTables& tables_;
  MotionNets& nets_;
  LogMel logMel_;
  std::vector<float> span_, mel_, features_;
};

// Whether window w can run before the end of the audio: its span reaches sample w * 640 + 4480.
bool windowAudioReady(int64_t samples, int64_t w);

// The 6480 samples of window w's span out of n samples of audio (zeros outside it).
void windowSpan(const float* audio, size_t n, int64_t w, float* span);

}  // namespace le::audio
