// The speech-encoder sessions every a2x object of the process shares: the 8 s encoder, the
// short-window trunk and head, and the 8 s encoder's output for silence.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <string>
#include <vector>

namespace le::w2v {

// The trunk/head file names searched beside the 8 s encoder, in order.
struct PairNames {
  const char* trunk;
  const char* head;
};
inline constexpr PairNames kPairs[] = {
    {"audio_encoder_fp16_window_trunk.onnx", "audio_encoder_fp16_window_head.onnx"},
    {"w2v_trunk32.onnx", "w2v_head32.onnx"},
};

// The loaded short-window pair. Lives until the process ends.
struct ShortWindowPair {
  Ort::Session* trunk = nullptr;
  Ort::Session* head = nullptr;
  std::string trunkOutput;
  // The trunk's output length in steps; 0 until known (then learned from the first run).
  int64_t lengthSteps() const;
  void learnLengthSteps(int64_t steps) const;
};

// The shared 8 s encoder, loaded on the first call (threads < 1: the pool budget); a later call
// with another path returns the session already loaded. nullptr when it cannot be loaded (the
// reason is logged).
Ort::Session* sharedEncoder(const std::string& path, int threads);

// The short-window pair, looked for and loaded on the first call of the process only
// (LE_A2X_W2V_WIN_ONNX and LE_A2X_W2V_HEAD_ONNX, else kPairs beside encoderPath); nullptr when it
// is not there or does not load, which is logged once.
const ShortWindowPair* shortWindowPair(int threads, const std::string& encoderPath);

// The trunk and head files beside encoderPath (its directory, "." without a "/"): the first kPairs
// row whose two files both open. False when none does or encoderPath is empty.
bool findPairBeside(const std::string& encoderPath, std::string& trunk, std::string& head);

// The 8 s encoder's output [12, 200, 768] for 8 s of silence, computed once per process.
const std::vector<float>& silenceEmbedding(Ort::Session& encoder);

}  // namespace le::w2v
