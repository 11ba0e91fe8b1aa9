// The producer thread: one turn after another of the state machine that takes audio, asks the
// engine for motion, renders speech, ramps back to the idle pose and admits idle frames.
#include "core/log.h"
#include "pipeline/utt.h"

using le::utt::kIdle;
using le::utt::kRamp;
using le::utt::kSpeaking;
using le::utt::kStarted;

// What a turn reads under the main lock before it works outside it.
struct le_utt::TurnInput {
  bool stop = false;
  std::vector<float> audio;
  double audioPushMs = -1;  // the first push of the taken audio
  bool end = false;
  int64_t generation = 0;
  int ringFill = 0;
  int pasteDepth = 0;  // queued and in-progress paste jobs
  double lastPushMs = 0;
  bool engineReady = false;
  le::Renderer* chunk = nullptr;
};

void le_utt::produce() {
  while (turn()) {
  }
}

// Audio pushed during a ramp waits until the ramp is over.
le_utt::TurnInput le_utt::takeInput() {
  TurnInput in;
  std::lock_guard<std::mutex> lock(mu_);
  in.stop = stop_;
  if (p_.state != kRamp) {
    in.audio.swap(pendingAudio_);
    in.audioPushMs = untakenPushMs_;
    untakenPushMs_ = -1;
    in.end = endFlag_;
    endFlag_ = false;
  }
  in.generation = generation_;
  in.ringFill = ring_.fill();
  in.pasteDepth = int(pasteQueue_.size()) + pasteBusy_;
  in.lastPushMs = lastPushMs_;
  in.engineReady = engine_ != nullptr;
  in.chunk = chunk_.get();
  return in;
}

bool le_utt::turn() {
  TurnInput in = takeInput();
  if (in.stop) return false;
  if (in.generation != p_.generation) {
    restartAfterInterrupt(in.generation);
    return true;
  }
  bool progress = false;
  le::utt::Response response;
  if (dispatcher_->tryTake(response)) {
    progress = response.pulled > 0;
    collect(response);
  }
  progress |= startOrContinue(in);
  progress |= maybeRequest(in);
  if (p_.state == kRamp) {
    if (in.ringFill < le::utt::OutputRing::kSlots) {
      rampFrame();
      progress = true;
    }
  } else {
    progress |= renderQueued(in.ringFill, in.chunk);
    maybeEndSpeech();
    if (p_.state == kIdle) progress |= idleTurn(in);
  }
  if (!progress) {
    std::unique_lock<std::mutex> lock(mu_);
    if (!stop_ && generation_ == p_.generation && (pendingAudio_.empty() || p_.state == kRamp)) {
      cv_.wait_for(lock, std::chrono::milliseconds(2));
    }
  }
  return true;
}

void le_utt::setState(le::utt::State state) {
  p_.state = state;
  std::lock_guard<std::mutex> lock(mu_);
  stats_.state = state;
}

void le_utt::resetUtterance() {
  p_.speaking = p_.ended = p_.spoke = false;
  p_.finishSent = p_.resetDue = p_.waitingForChunk = false;
  p_.frameNo = 0;
  p_.queue.clear();
  p_.staged.clear();
  p_.pulled = 0;
  p_.engineTotal = -1;
  p_.engineHeld = 0;
}

// The host interrupted: everything of the old generation is dropped and the person returns to the
// idle pose from the last frame the host actually saw.
void le_utt::restartAfterInterrupt(int64_t generation) {
  p_.generation = generation;
  if (!settings_.teethThread && borrowAttached()) dropHeldTeeth();
  resetUtterance();
  p_.carry.clear();
  p_.carryPushMs = -1;
  le::utt::PulledFrame last;
  {
    std::lock_guard<std::mutex> lock(mu_);
    last = lastPulled_;
  }
  if (!last.any) {
    setState(kIdle);
    return;
  }
  if (last.kind != 0 && hasXsTarget()) {
    startRamp(last.idx, last.kp.data(), settings_.interruptRampFrames);
    return;
  }
  idleIndexAfter(last.idx);
  setState(kIdle);
}

void le_utt::collect(le::utt::Response& r) {
  if (r.generation != p_.generation) return;
  if (r.pulled > 0) p_.queue.append(r.si.data(), r.ks.data(), r.kd.data(), r.pulled);
  p_.pulled += r.pulled;
  p_.engineHeld = r.held;
  p_.engineTotal = r.total;
}

// Taken audio opens an utterance, feeds the current one, or, once the current one's end was
// decided, waits to open the next. The utterance ends on the host's word or after a silence.
bool le_utt::startOrContinue(TurnInput& in) {
  if (!in.audio.empty() && !in.engineReady) {
    in.audio.clear();
  } else if (!in.audio.empty() && p_.speaking && p_.ended) {
    if (p_.carry.empty()) p_.carryPushMs = in.audioPushMs;
    p_.carry.insert(p_.carry.end(), in.audio.begin(), in.audio.end());
  } else if (!in.audio.empty()) {
    if (!p_.speaking) {
      resetUtterance();
      p_.speaking = p_.resetDue = true;
      {
        std::lock_guard<std::mutex> lock(mu_);
        uttStartMs_ = in.audioPushMs >= 0 ? in.audioPushMs : in.lastPushMs;
      }
      if (p_.state == kIdle) setState(kStarted);
    }
    p_.staged.insert(p_.staged.end(), in.audio.begin(), in.audio.end());
  }
  if (p_.speaking && !p_.ended &&
      (in.end || (settings_.idleEndMs >= 0 && nowMs() - in.lastPushMs >= settings_.idleEndMs))) {
    p_.ended = true;
  }
  return false;
}

// Hybrid mode asks for 24 eager frames while the backlog is deep and for 3 once it has drained,
// with hysteresis between 11 and 23 frames.
int le_utt::eagerWanted(int ringFill) {
  if (!settings_.hybrid) return settings_.eager;
  const int backlog = p_.engineHeld + p_.queue.size() + ringFill;
  if (backlog > 23) return 24;
  if (backlog <= 11) return 3;
  return p_.eagerSent;
}

bool le_utt::maybeRequest(const TurnInput& in) {
  if (!p_.speaking || dispatcher_->inFlight()) return false;
  const bool finishDue = p_.ended && !p_.finishSent;
  const bool allDelivered = p_.engineTotal >= 0 && p_.pulled >= p_.engineTotal;
  if (p_.staged.empty() && !finishDue && !p_.waitingForChunk &&
      (allDelivered || p_.queue.size() > 7)) {
    return false;
  }
  le::utt::Request r;
  r.generation = p_.generation;
  r.reset = p_.resetDue;
  r.resetStart = p_.idleIdx;
  const int eager = eagerWanted(in.ringFill);
  r.eagerChanged = eager != p_.eagerSent;
  r.eager = eager;
  r.audio.swap(p_.staged);
  r.finish = finishDue;
  r.maxPull = le::utt::SpeechQueue::kCapacity - p_.queue.size();
  p_.resetDue = false;
  p_.eagerSent = eager;
  if (finishDue) p_.finishSent = true;
  dispatcher_->post(std::move(r));
  if (settings_.hybrid) return false;
  le::utt::Response response = dispatcher_->waitTake();
  collect(response);
  return response.pulled > 0;
}

// The first speech frame of an utterance is rendered alone, for latency; after it, whole chunks
// when the chunk renderer has enough frames, waiting for a chunk the engine is about to complete.
bool le_utt::renderQueued(int ringFill, le::Renderer* chunk) {
  p_.waitingForChunk = false;
  if (p_.queue.empty() || ringFill >= le::utt::OutputRing::kSlots) return false;
  setState(kSpeaking);
  if (p_.frameNo == 0 || !chunk) return renderSpeech(1);
  const int batch = chunk->batch();
  if (p_.queue.size() >= batch) return renderSpeech(batch);
  if (dispatcher_->inFlight() && p_.engineHeld + p_.queue.size() >= batch) {
    p_.waitingForChunk = true;
    return false;
  }
  return renderSpeech(1);
}

void le_utt::maybeEndSpeech() {
  if (!p_.speaking || !p_.ended || !p_.finishSent || dispatcher_->inFlight()) return;
  if (p_.engineTotal < 0 || p_.pulled < p_.engineTotal || !p_.queue.empty()) return;
  p_.speaking = false;
  if (p_.spoke && hasXsTarget()) {
    startRamp(p_.lastSi, p_.lastPose.data(), settings_.rampFrames);
  } else {
    setState(kIdle);
  }
  if (p_.carry.empty()) return;
  // Audio of the next utterance goes back in front of anything pushed since.
  std::lock_guard<std::mutex> lock(mu_);
  pendingAudio_.insert(pendingAudio_.begin(), p_.carry.begin(), p_.carry.end());
  untakenPushMs_ = p_.carryPushMs;
  p_.carry.clear();
}

// Idle frames are made one at a time, as the host pulls them.
bool le_utt::idleTurn(const TurnInput& in) {
  if (in.ringFill != 0 || in.pasteDepth != 0) return false;
  return idleFrame();
}
