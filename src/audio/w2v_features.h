// The feature store of one a2x object and the shapes the speech encoders agree on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace le::w2v {

constexpr int kLayers = 12;
constexpr int kChannels = 768;
// One feature frame: 12 layers x 768 channels, layer-major.
constexpr size_t kFrameFloats = size_t(kLayers) * kChannels;
// One video frame of audio at 16 kHz and 25 frames per second.
constexpr int64_t kFrameSamples = 640;
// The 8 s encoder's window and the frames it yields.
constexpr int64_t kLongSamples = 128000;
constexpr int64_t kLongFrames = 200;
// A later 8 s window contributes from this position on; windows start every kLongHop frames.
constexpr int64_t kLongFirstUsed = 50;
constexpr int64_t kLongHop = 100;
// The short-window trunk's input, its channels, the samples per trunk step and the frames per head
// run (one block).
constexpr int64_t kTrunkSamples = 32000;
constexpr int64_t kTrunkChannels = 640;
constexpr int64_t kTrunkStepSamples = 80;
constexpr int64_t kBlockFrames = 8;

// Feature frames [0, done) of an utterance, grown on demand; frames past done read as zeros.
struct FeatureStore {
  std::vector<float> data;
  int64_t done = 0;
  // The frontend's window cursor: the frame its next window starts at (8 s windows) or the next
  // block (short windows).
  int64_t cursor = 0;

  // Makes frames [0, frames) addressable, zero-filling new ones.
  void ensure(int64_t frames) {
    if (size_t(frames) * kFrameFloats > data.size()) data.resize(size_t(frames) * kFrameFloats, 0.0f);
  }
  float* frame(int64_t f) { return data.data() + size_t(f) * kFrameFloats; }
  const float* frame(int64_t f) const { return data.data() + size_t(f) * kFrameFloats; }
  void clear() {
    data.clear();
    data.shrink_to_fit();
    done = 0;
    cursor = 0;
  }
};

// Rounds every value to binary16 precision and widens it back (h()).
void roundToHalf(float* values, size_t n);

}  // namespace le::w2v
