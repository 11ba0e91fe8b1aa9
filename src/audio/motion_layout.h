// Sizes and layouts of the motion generator: its frontend windows, conditioning rows, motion
// vectors, info records and chunks. Shared by the library code, the tests and the benchmark.
#pragma once

#include <cstddef>
#include <cstdint>

namespace le::audio::motion {

// Audio: 16 kHz mono, 640 samples per 40 ms video frame.
inline constexpr int64_t kFrameSamples = 640;

// Speech frontend: one window per 5 frames. Window w (a frame index, a multiple of 5) reads 6480
// samples from sample w * 640 - 2000 and so needs samples up to w * 640 + 4480 before it can run.
inline constexpr int64_t kWindowFrames = 5;
inline constexpr int64_t kSpanSamples = 6480;
inline constexpr int64_t kSpanLead = 2000;
inline constexpr int64_t kSpanReach = kSpanSamples - kSpanLead;  // 4480
// Reflect padding on each side of the span, the FFT frame and hop, giving 21 frames.
inline constexpr size_t kReflectPad = 256;
inline constexpr size_t kPaddedSamples = size_t(kSpanSamples) + 2 * kReflectPad;  // 6992
inline constexpr size_t kFftSize = 512;
inline constexpr size_t kFftBins = kFftSize / 2 + 1;  // 257
inline constexpr size_t kHop = 320;
inline constexpr size_t kMelFrames = 21;
inline constexpr size_t kMelBands = 80;
inline constexpr size_t kMelFloats = kMelBands * kMelFrames;  // 1680, band-major [80][21]
inline constexpr float kMelFloor = 1e-8f;

// Speech encoder output: 20 rows of 1024 features (20 ms each); rows 6 to 15 give the window's five
// frames, two rows per frame.
inline constexpr size_t kFeatRows = 20;
inline constexpr size_t kFeatDim = 1024;
inline constexpr size_t kFeatFirstRow = 6;

// Conditioning row: [0, 1024) audio features, [1024, 1032) emotion, [1032, 1034) eye open,
// [1034, 1040) eye ball, [1040, 1103) template row.
inline constexpr size_t kEmoDim = 8;
inline constexpr size_t kEyeOpenDim = 2;
inline constexpr size_t kEyeBallDim = 6;
inline constexpr size_t kKpFloats = 63;
inline constexpr size_t kCondEmo = kFeatDim;
inline constexpr size_t kCondEyeOpen = kCondEmo + kEmoDim;
inline constexpr size_t kCondEyeBall = kCondEyeOpen + kEyeOpenDim;
inline constexpr size_t kCondSc = kCondEyeBall + kEyeBallDim;
inline constexpr size_t kCondDim = kCondSc + kKpFloats;  // 1103

// Motion vector: [0] scale - 1, [1, 67) pitch logits, [67, 133) yaw logits, [133, 199) roll
// logits, [199, 202) translation, [202, 265) expression. Dimensions below 202 are smoothed.
inline constexpr size_t kPoseBins = 66;
inline constexpr size_t kMvPitch = 1;
inline constexpr size_t kMvYaw = kMvPitch + kPoseBins;
inline constexpr size_t kMvRoll = kMvYaw + kPoseBins;
inline constexpr size_t kMvTranslation = kMvRoll + kPoseBins;
inline constexpr size_t kMvExpression = kMvTranslation + 3;
inline constexpr size_t kMotionDim = kMvExpression + kKpFloats;  // 265
inline constexpr size_t kSmoothDims = kMvExpression;             // 202

// Info record: expression [0, 63), canonical keypoints [63, 126), pitch logits [126, 192), roll
// logits [192, 258), scale [258], translation [259, 262), yaw logits [262, 328).
inline constexpr size_t kInfoExpression = 0;
inline constexpr size_t kInfoCanonical = 63;
inline constexpr size_t kInfoPitch = 126;
inline constexpr size_t kInfoRoll = 192;
inline constexpr size_t kInfoScale = 258;
inline constexpr size_t kInfoTranslation = 259;
inline constexpr size_t kInfoYaw = 262;
inline constexpr size_t kInfoFloats = 328;

// Motion model chunks: 80 frames every 70, the first 10 of a later chunk cross-faded into the
// timeline. The motion state fed to the next chunk is the timeline frame 11 before its end.
inline constexpr int64_t kChunkFrames = 80;
inline constexpr int64_t kChunkStride = 70;
inline constexpr int64_t kCrossFade = kChunkFrames - kChunkStride;  // 10
inline constexpr int64_t kStateFromEnd = 11;

// Keypoints whose coordinates follow the generated expression (the lips).
inline constexpr int kLipKeypoints[] = {6, 12, 14, 17, 19, 20};

}  // namespace le::audio::motion
