#include "audio/speech_frontend.h"

#include <algorithm>
#include <cstring>

#include "audio/motion_layout.h"

namespace le::audio {

using namespace motion;

bool windowAudioReady(int64_t samples, int64_t w) { return samples >= w * kFrameSamples + kSpanReach; }

void windowSpan(const float* audio, size_t n, int64_t w, float* span) {
  const int64_t first = w * kFrameSamples - kSpanLead;
  for (int64_t i = 0; i < kSpanSamples; ++i) {
    const int64_t at = first + i;
    span[i] = at >= 0 && at < int64_t(n) ? audio[at] : 0.0f;
  }
}

SpeechFrontend::SpeechFrontend(const MotionTables& tables, MotionNets& nets)
    : tables_(tables),
      nets_(nets),
      logMel_(tables.stftWindow, tables.melMatrix),
      span_(size_t(kSpanSamples)),
      mel_(kMelFloats),
      features_(kFeatRows * kFeatDim) {}

void SpeechFrontend::window(const float* audio, size_t n, int64_t w, float* rows) {
  windowSpan(audio, n, w, span_.data());
  logMel_.compute(span_.data(), mel_.data());
  nets_.student(mel_.data(), features_.data());
  const float* mean = tables_.featMean.data();
  const float* stdev = tables_.featStd.data();
  for (size_t r = 0; r < kFeatRows; ++r) {
    float* row = features_.data() + r * kFeatDim;
    for (size_t d = 0; d < kFeatDim; ++d) row[d] = row[d] * stdev[d] + mean[d];
  }
  for (int64_t m = 0; m < kWindowFrames; ++m) {
    const float* featA = features_.data() + (kFeatFirstRow + 2 * size_t(m)) * kFeatDim;
    conditioningRow(w + m, featA, featA + kFeatDim, rows + size_t(m) * kCondDim);
  }
}

void SpeechFrontend::conditioningRow(int64_t frame, const float* featA, const float* featB, float* row) const {
  for (size_t d = 0; d < kFeatDim; ++d) row[d] = (featA[d] + featB[d]) * 0.5f;
  const size_t emo = size_t(frame % tables_.meta.nEmo) * kEmoDim;
  std::memcpy(row + kCondEmo, tables_.emotion.data() + emo, kEmoDim * sizeof(float));
  std::memcpy(row + kCondEyeOpen, tables_.eyeOpen.data(), kEyeOpenDim * sizeof(float));
  std::memcpy(row + kCondEyeBall, tables_.eyeBall.data(), kEyeBallDim * sizeof(float));
  std::memcpy(row + kCondSc, tables_.templateRow.data(), kKpFloats * sizeof(float));
}

}  // namespace le::audio
