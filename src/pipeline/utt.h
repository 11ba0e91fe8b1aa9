// The utterance pipeline behind le_utt: speech audio in, finished full frames out, on a producer,
// a warm-up, a dispatch, (with pipelined paste) a paste and (with a teeth borrow) a teeth thread.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/session.h"
#include "le/le_utt.h"
#include "pipeline/dispatcher.h"
#include "pipeline/output_ring.h"
#include "pipeline/speech_queue.h"
#include "pipeline/stage_report.h"
#include "pipeline/utt_settings.h"
#include "tessera/stream_borrow.h"

namespace le::utt {

enum State : int32_t { kIdle = 0, kStarted = 1, kSpeaking = 2, kRamp = 3 };

// One frame on its way to the ring. crop is null for an idle frame; kp null means zeros.
struct FrameOrder {
  const float* crop = nullptr;
  int32_t kind = 0, idx = 0, frameNo = -1;
  const float* kp = nullptr;
};

// A frame queued for the paste thread, with its own copy of the crop.
struct PasteJob {
  std::vector<float> crop;
  bool hasCrop = false;
  int32_t kind = 0, idx = 0, frameNo = -1;
  std::array<float, LE_HOST_KP_FLOATS> kp{};
  int64_t generation = 0;
  double queuedMs = 0;
};

// The teeth borrow of a pipeline and what it has done (guarded by the main lock; the borrow's own
// work runs outside it on a shared reference, so that an attach can replace it meanwhile).
struct TeethRecord {
  std::shared_ptr<le::tessera::StreamBorrow> borrow;
  int64_t borrowed = 0, refused = 0;
  std::string lastMessage;
  std::string geometry;
  bool fatal = false;
  PasteJob held;  // the crop the borrow holds, one frame behind
  bool hasHeld = false;
  int64_t lastGeneration = 0;  // the interrupt generation the teeth stage last saw
  le::tessera::TeethPass::SynthStats synth;
  float lastSynth = 0.f;  // the synthesis weight of the last emitted frame
};

// The producer's own state, touched by the producer thread only.
struct ProducerState {
  State state = kIdle;
  bool speaking = false, ended = false, spoke = false;
  bool finishSent = false, resetDue = false, waitingForChunk = false;
  int frameNo = 0;
  int pulled = 0;       // frames pulled from the engine in this utterance
  int engineTotal = -1;  // unknown until the engine's finish
  int engineHeld = 0;    // frames the engine had ready beyond those pulled, at the last response
  int eagerSent = -1;
  int64_t generation = 0;
  std::vector<float> staged;  // audio for the next request
  // Audio pushed after the utterance's end was decided: it opens the next utterance.
  std::vector<float> carry;
  double carryPushMs = -1;
  SpeechQueue queue;
  int idleIdx = 0;
  int lastSi = 0;
  std::array<float, LE_HOST_KP_FLOATS> lastPose{};
  // Ramp back to the idle pose.
  std::array<float, LE_HOST_KP_FLOATS> rampDelta{};
  int rampLeft = 0, rampTotal = 0;
};

// The last frame the host pulled.
struct PulledFrame {
  bool any = false;
  int32_t kind = 0, idx = 0;
  std::array<float, LE_HOST_KP_FLOATS> kp{};
};

}  // namespace le::utt

struct le_utt {
  le_utt(le_ctx& ctx, le::utt::Settings settings);
  // Stops and joins every thread, then releases the engine; prints the stage report when asked.
  ~le_utt();
  le_utt(const le_utt&) = delete;
  le_utt& operator=(const le_utt&) = delete;

  // The host's calls (utt_host_calls.cpp). Each takes the main lock.
  int ready(std::string& error);
  void pushAudio(const int16_t* samples, int count);
  void endUtterance();
  void interrupt();
  int framesAvailable();
  // 1 with a frame; 0 when none waits; -1 when outLen is too small (the frame stays).
  int pullFrame(uint8_t* out, size_t outLen, le_utt_frame_info* info);
  void stats(le_utt_stats& out);
  int renderStatus(char* buf, int bufLen, int64_t* failCount);

  // Records a render failure; "render" and "ramp" failures are fatal.
  void noteRenderFail(const char* stage, const std::string& message, bool fatal);

  // The teeth borrow (utt_teeth_attach.cpp, utt_teeth.cpp). attachBorrow replaces any borrow and
  // starts the teeth thread when the teeth stage runs on its own thread.
  void attachBorrow(std::shared_ptr<le::tessera::StreamBorrow> borrow, const std::string& geometry);
  int tesseraStats(int64_t* borrowed, int64_t* refused, char* buf, int bufLen);
  int tesseraGeometry(char* buf, int bufLen);
  int tesseraSynthW(double* average, double* last, int64_t* count);
  int cropSide() const { return ctx_.manifest.crop; }
  const std::vector<float>& xsTarget() const { return xsTarget_; }
  const le_ctx& session() const { return ctx_; }

 private:
  using Clock = std::chrono::steady_clock;
  static double nowMs();

  // Threads (utt_lifecycle.cpp, utt_producer.cpp, utt_admit.cpp).
  void warmUp();
  void warmUpRenders(le::Renderer* chunk);
  std::unique_ptr<le::Renderer> buildChunkRenderer();
  void produce();
  void pasteLoop();

  // One producer turn and its steps (utt_producer.cpp).
  struct TurnInput;
  bool turn();
  TurnInput takeInput();
  void restartAfterInterrupt(int64_t generation);
  void collect(le::utt::Response& response);
  bool startOrContinue(TurnInput& in);
  int eagerWanted(int ringFill);
  bool maybeRequest(const TurnInput& in);
  bool renderQueued(int ringFill, le::Renderer* chunk);
  void maybeEndSpeech();
  bool idleTurn(const TurnInput& in);
  void setState(le::utt::State state);
  void resetUtterance();

  // Frames (utt_render.cpp).
  bool renderSpeech(int n);
  bool renderChunk(le::Renderer& chunk, int m);
  bool renderSingles(int m);
  void admitSpeech(const float* crop, double renderMs);
  void startRamp(int si, const float* pose, int frames);
  void rampFrame();
  void idleIndexAfter(int t) { p_.idleIdx = (t + 1) % NT_; }
  bool idleFrame();
  bool hasXsTarget() const { return !xsTarget_.empty(); }
  const float* xsTargetRow(int t) const;

  // Admission (utt_admit.cpp): the time it took, and the part of it spent waiting for room.
  struct AdmitTime {
    double totalMs = 0, waitMs = 0;
    bool failed = false;  // the driver or the compositor failed (a recorded failure)
  };
  AdmitTime admit(const le::utt::FrameOrder& order);
  AdmitTime pasteNow(const le::utt::FrameOrder& order, int64_t generation);
  AdmitTime queuePaste(const le::utt::FrameOrder& order, int64_t generation);
  static le::utt::PasteJob jobOf(const le::utt::FrameOrder& order, size_t cropFloats, int64_t generation);
  static le::utt::FrameOrder orderOf(const le::utt::PasteJob& job);
  // Waits in 2 ms steps for a free ring slot; false when the pipeline stops or the interrupt
  // generation moves on. waitMs grows by the time waited.
  bool waitForRingSlot(int64_t generation, double& waitMs);
  // Driver frame idx into the slot, with the crop composited; false (and a recorded failure) when
  // the driver or the compositor fails.
  bool fillSlot(size_t slot, const float* crop, int idx);
  bool publish(size_t slot, const le::utt::FrameOrder& order, int64_t generation);
  void pasteJob(le::utt::PasteJob& job);

  // The teeth stage (utt_teeth.cpp).
  bool borrowAttached();
  AdmitTime admitThroughTeeth(const le::utt::FrameOrder& order);
  AdmitTime queueTeeth(const le::utt::FrameOrder& order);
  void teethLoop();
  void teethJob(le::utt::PasteJob& job);
  void pushTeeth(le::utt::PasteJob& job);
  void drainTeeth();
  void dropHeldTeeth();
  void finishHeld(le::utt::PasteJob& held, const le::tessera::FrameResult& result);
  void forwardFromTeeth(le::utt::PasteJob& job);
  void noteTeethFail(const std::string& message);
  bool teethFatal();

  le_ctx& ctx_;
  const le::utt::Settings settings_;
  const int NT_;
  const std::vector<float> xsTarget_;  // NT x 63 idle poses, or empty

  // Main lock: everything below up to the threads, unless marked otherwise.
  std::mutex mu_;
  std::condition_variable cv_;        // wakes the producer, admission waits and readers
  std::condition_variable pasteCv_;   // wakes the paste thread
  std::condition_variable teethCv_;   // wakes the teeth thread
  bool stop_ = false;
  bool pasteQuit_ = false;
  bool teethQuit_ = false;
  std::vector<float> pendingAudio_;
  bool endFlag_ = false;
  double lastPushMs_ = 0;
  double untakenPushMs_ = -1;  // the first push since the producer last took audio; -1: none
  double uttStartMs_ = 0;    // the start of the utterance being delivered
  int64_t generation_ = 0;   // interrupt generation
  le::utt::OutputRing ring_;
  std::deque<le::utt::PasteJob> pasteQueue_;
  int pasteBusy_ = 0;  // jobs taken by the paste thread and not yet finished
  std::deque<le::utt::PasteJob> teethQueue_;
  le::utt::TeethRecord teeth_;
  le::utt::PulledFrame lastPulled_;
  le_utt_stats stats_{};
  bool emaStarted_ = false;
  int64_t failCount_ = 0;
  std::string failText_;
  bool fatal_ = false;
  std::unique_ptr<le::utt::Engine> engine_;
  bool engineFailed_ = false;
  std::string engineError_;
  std::unique_ptr<le::Renderer> chunk_;
  le::utt::StageCounters counters_;

  le::utt::ProducerState p_;  // producer thread only
  std::unique_ptr<le::utt::Dispatcher> dispatcher_;
  std::thread producer_, warmUp_, paste_, teethThread_;
};
