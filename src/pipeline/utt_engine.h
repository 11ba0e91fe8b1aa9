// The audio-to-motion engine an utterance pipeline drives: the audio-to-expression engine when the
// motion directory carries its encoder, else the motion generator. Both hand out, per video frame,
// a source index, source keypoints and driving keypoints; this wrapper gives them one face.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct le_a2x;
struct le_motion;

namespace le::utt {

enum class EngineKind { kA2x, kMotion };

// kA2x when motionDir holds "a2x_enc_stream.onnx" under either of its names, else kMotion.
EngineKind engineKindOf(const std::string& motionDir);

class Engine {
 public:
  // Creates the engine through its C interface; on failure returns null and sets error to the
  // engine family's own last-error text.
  static std::unique_ptr<Engine> create(EngineKind kind, const std::string& motionDir, int threads,
                                        const std::string& ep, std::string& error);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  void reset(int start, int direction, int loop);
  void setEager(int eager);
  void push(const float* samples, int count);
  void finish();
  int avail();
  // Up to max frames into rows (max), source keypoints and driving keypoints (max x 63 each).
  int pull(int32_t* rows, float* source, float* driving, int max);
  int total();

 private:
  Engine(le_a2x* a2x, le_motion* motion) : a2x_(a2x), motion_(motion) {}
  le_a2x* a2x_;
  le_motion* motion_;
};

}  // namespace le::utt
