// The motion generator: speech audio in, per frame a target row, its target keypoints and driving
// keypoints out. Audio is pushed in any sizes; frames are pulled as soon as they are final, or, in
// eager mode, as soon as a speculative pass has produced them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/eager_controller.h"
#include "audio/frame_emitter.h"
#include "audio/motion_dir.h"
#include "audio/motion_dump.h"
#include "audio/motion_nets.h"
#include "audio/motion_timeline.h"
#include "audio/speech_frontend.h"
#include "audio/target_walk.h"

namespace le::audio {

class MotionEngine {
 public:
  // Reads the model directory and opens its three networks with `threads` intra-op threads (below
  // 1: the pool budget) on the provider `ep`. Throws on every missing or malformed member.
  MotionEngine(const std::string& dir, int threads, const std::string& ep);

  // Appends samples (16 kHz mono). Throws after finish.
  void push(const float* samples, size_t count);
  // Marks the end of the audio: total = ceil(samples / 640).
  void finish();
  // Runs whatever the audio received allows and returns the frames ready to pull.
  int avail();
  // Writes up to max frames: rows (may be null), target and keypoints (63 floats per frame).
  int pull(int32_t* rows, float* target, float* keypoints, int max);
  // -1 before finish, then the total frame count.
  int64_t total() const { return finished_ ? total_ : -1; }
  // Starts a new utterance on the walk (start clamped to [0, nt - 1]; negative continues).
  void reset(int start, int direction, int loop);
  void setEager(int eager);
  int nt() const { return tables_.meta.nt; }

 private:
  int64_t heardFrames() const;
  bool windowReady(int64_t w) const;
  bool chunkReady(int64_t k) const;
  void appendWindow(int64_t w);
  void runChunk(int64_t k, std::vector<float>& state, bool committed);
  void runCommitted();
  void speculate();
  void dropSpeculation();
  void restoreCheckpoint();
  void buildFinal();
  int64_t available() const;
  const float* motionOf(int64_t t);

  MotionTables tables_;
  MotionNets nets_;
  SpeechFrontend frontend_;
  FrameEmitter emitter_;
  MotionDump dump_;
  MotionTimeline timeline_;
  EagerController eager_;
  TargetWalk walk_;

  std::vector<float> audio_;
  bool finished_ = false;
  int64_t total_ = 0;

  // Conditioning rows: the committed ones, then specRows_ speculative ones.
  std::vector<float> cond_;
  int64_t rows_ = 0;
  int64_t specRows_ = 0;
  int64_t windowPos_ = 0;  // next committed window (a frame index)

  int64_t chunks_ = 0;  // committed chunks
  std::vector<float> initialState_, state_;
  MotionTimeline::Checkpoint checkpoint_;
  bool checkpointInUse_ = false;
  bool final_ = false;

  int64_t pulled_ = 0;
  std::vector<float> chunkIn_, chunkOut_, readout_;
};

}  // namespace le::audio
