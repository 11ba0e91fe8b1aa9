// The face-coefficient animator's features: the speech encoder's layers 4 to 9 averaged per frame,
// centred by a running mean over voiced frames, and read as 7-frame windows.
#pragma once

#include <cstdint>

namespace le::fca {

inline constexpr int kFeatureChannels = 768;
inline constexpr int kWindowFrames = 7;
inline constexpr int kCondFloats = kWindowFrames * kFeatureChannels;  // 5376
// A frame is voiced on a positive norm for the first kPercentileFrom frames, and above the 20th
// percentile of the norms so far from then on.
inline constexpr int64_t kPercentileFrom = 7;

// The mean over layers 4..9 of one encoder frame (12 layers x 768 channels, layer-major).
void averageLayers(const float* encoderFrame, float* feature);

// Centres `frames` features (768 floats each) in order: each minus the mean of the voiced features
// up to and including it.
void centreVoiced(const float* features, int64_t frames, float* centred);

// The conditioning window of frame k: the centred rows k - 1 .. k + 5, clamped to the utterance.
void windowRows(const float* centred, int64_t frames, int64_t k, float* cond);

}  // namespace le::fca
