// Streaming audio-to-expression: speech in, per-frame keypoint motion out, over one bundle's
// encoder and decoder and the process's shared speech encoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/a2x_schedule.h"
#include "audio/target_walk.h"
#include "audio/w2v_features.h"

namespace Ort {
struct Session;
}

namespace le {

namespace w2v {
struct ShortWindowPair;
}
class A2xNets;

// Keypoint floats per frame: 21 rows of (x, y, z).
constexpr int64_t kA2xKpFloats = 63;

class A2x {
 public:
  // Opens the engine of a bundle handle with `threads` runtime threads (below 1, or not below the
  // pool budget: the budget). Throws std::runtime_error with the reason of a refusal.
  A2x(const std::string& bundle, int threads);
  ~A2x();
  A2x(const A2x&) = delete;
  A2x& operator=(const A2x&) = delete;

  void push(const float* samples, int64_t count);
  void finish() { finished_ = true; }
  // Frames ready to pull, computing at most one step of them. A failed computation is reported
  // through the family's last-error text.
  int avail();
  // Hands out up to max frames (see le_a2x_pull_wn); any output may be null.
  int pull(int32_t* rows, float* target, float* kp, float* wn, int max);
  int total() const;
  int reset(int start, int direction, int loop);
  // Offline motion of a whole utterance: writes frames x 63 deltas (and wn when asked) and returns
  // the frame count. The caller has checked that out holds totalFrames(count) frames.
  int64_t deltas(const float* samples, int64_t count, float* out, float* wn, int64_t maxWn);

  int nt() const { return nt_; }
  bool hasWn() const { return hasWn_; }
  bool shortWindow() const { return pair_ != nullptr; }
  void setEager(int eager) { eager_ = eager; }

 private:
  void readTables(const std::string& root);
  void openFrontend();
  void openNets(const std::string& root, bool metaWidth);
  Ort::Session& longEncoder();

  int64_t availableFrames() const;
  int64_t ready() const;
  // Computes frames up to target (capped at ready); throws on failure.
  void extend(int64_t target);
  void extendReporting(int64_t target);
  void fillFeatures(int64_t wanted);
  void encodeUpTo(int64_t target);
  // Encoder run over feature frames [s, e) of `features`; rows [c0, c1) of its outputs go to
  // `out` (h per frame) and `wn` (one per frame), both indexed by absolute frame.
  void encodeChunk(const w2v::FeatureStore& features, int64_t c0, int64_t c1, int64_t s, int64_t e,
                   std::vector<float>& out, std::vector<float>& wn);
  // One decoder step on encoder row ctx from state (prev, hidden), which it advances; writes the
  // frame's denormalised motion into delta.
  void decodeFrame(const float* ctx, float* prev, float* hidden, float* delta);
  void primeWithSilence(int frames);

  std::unique_ptr<A2xNets> nets_;
  std::string w2vPath_;
  int threads_ = 1;
  Ort::Session* longEncoder_ = nullptr;
  const w2v::ShortWindowPair* pair_ = nullptr;
  bool hasWn_ = false;

  int64_t h_ = 0, window_ = 0, left_ = 0, layers_ = 0;
  int64_t history_ = 0, lookahead_ = 0, right_ = 0, lag_ = 0;

  std::vector<float> pos_;
  int64_t posRows_ = 0;
  std::vector<float> mean_, std_;
  std::vector<float> target_;
  int nt_ = 0;

  std::vector<float> audio_;
  bool finished_ = false;
  w2v::FeatureStore features_;
  // Counted frames up to which 8 s windows have been filled before finish (see fillFeatures).
  int64_t longCounted_ = 0;
  std::vector<float> encoded_, wn_;
  int64_t encodedCount_ = 0;
  std::vector<float> deltas_;
  int64_t produced_ = 0;

  std::vector<float> prev_, hidden_, primedPrev_, primedHidden_;
  int64_t pulled_ = 0;
  audio::TargetWalk walk_;
  int eager_ = 0;
};

}  // namespace le
