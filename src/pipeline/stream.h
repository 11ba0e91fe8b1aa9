// The offline stream renderer: a whole recorded utterance to finished frames in one call. The
// animator turns the audio into keypoint deltas; a render thread renders face crops up to four
// frames ahead while the calling thread pastes them into the driver frames and hands each frame
// to the host in order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "le/le.h"
#include "le/le_fca.h"
#include "pipeline/crop_ring.h"
#include "pipeline/stream_plan.h"

namespace le {

// Receives output frame `index` (RGB24, width x height), valid during the call only.
using StreamFrameFn = void (*)(void* user, int index, const uint8_t* rgb, int width, int height);

class Stream {
 public:
  // Throws std::runtime_error with the creation texts ("le_create: ...", "le_fca_create: ...",
  // "le_stream_create: ...").
  Stream(const std::string& bundle, const std::string& encoderPath, int threads, int skip, float gain);
  ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Renders the utterance and returns the frames delivered. Throws std::runtime_error
  // ("le_stream_run: ...") on failure, after delivering the frames made before it.
  int run(const float* samples, int count, StreamFrameFn callback, void* user);

  int width() const { return width_; }
  int height() const { return height_; }

 private:
  // The render thread: every planned crop into the ring, until a render fails or the run stops.
  void renderAll(const StreamPlan& plan, CropRing& ring);
  // The calling thread: pastes each crop and delivers the frame; the frames delivered.
  int64_t pasteAll(const StreamPlan& plan, CropRing& ring, std::vector<uint8_t>& frame, StreamFrameFn callback,
                   void* user);

  le_ctx* session_ = nullptr;
  le_fca* animator_ = nullptr;
  std::vector<float> xsTarget_;
  int32_t nt_ = 0, width_ = 0, height_ = 0, crop_ = 0;
  int skip_ = 0;
  float gain_ = 1.f;
};

}  // namespace le
