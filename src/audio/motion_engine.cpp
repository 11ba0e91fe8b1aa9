#include "audio/motion_engine.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "audio/head_pose.h"
#include "audio/motion_layout.h"
#include "core/log.h"
#include "pool/pool.h"

namespace le::audio {

using namespace motion;

namespace {
int threadBudget(int threads) { return threads < 1 ? le::pool::threads() : threads; }
}  // namespace

MotionEngine::MotionEngine(const std::string& dir, int threads, const std::string& ep)
    : tables_(loadMotionTables(dir)),
      nets_(dir, threadBudget(threads), ep),
      frontend_(tables_, nets_),
      emitter_(tables_, nets_),
      initialState_(kMotionDim),
      chunkIn_(size_t(kChunkFrames) * kCondDim),
      chunkOut_(size_t(kChunkFrames) * kMotionDim),
      readout_(kMotionDim) {
  motionFromInfo(tables_.templateInfo.data(), initialState_.data());
  state_ = initialState_;
  le::logPrintf("[le_motion] motion generator: nt=%d n_emo=%d threads=%d ep=%s; chunks of %lld frames every %lld",
                tables_.meta.nt, tables_.meta.nEmo, threadBudget(threads), nets_.epName().c_str(),
                (long long)kChunkFrames, (long long)kChunkStride);
}

void MotionEngine::push(const float* samples, size_t count) {
  if (finished_) throw std::logic_error("le_motion: push after finish");
  audio_.insert(audio_.end(), samples, samples + count);
}

int64_t MotionEngine::heardFrames() const { return (int64_t(audio_.size()) + kFrameSamples - 1) / kFrameSamples; }

bool MotionEngine::windowReady(int64_t w) const {
  return finished_ ? w < total_ : windowAudioReady(int64_t(audio_.size()), w);
}

bool MotionEngine::chunkReady(int64_t k) const {
  if (rows_ == 0) return false;
  return finished_ ? k * kChunkStride < total_ : rows_ >= k * kChunkStride + kChunkFrames;
}

void MotionEngine::appendWindow(int64_t w) {
  cond_.resize(size_t(rows_ + kWindowFrames) * kCondDim);
  frontend_.window(audio_.data(), audio_.size(), w, cond_.data() + size_t(rows_) * kCondDim);
  rows_ += kWindowFrames;
}

void MotionEngine::runChunk(int64_t k, std::vector<float>& state, bool committed) {
  chunkRows(cond_.data(), size_t(rows_), k, chunkIn_.data());
  nets_.lmdm(state.data(), chunkIn_.data(), chunkOut_.data());
  if (committed && dump_.firstChunkPending()) {
    dump_.write("lmdm0_kp.bin", state.data(), state.size());
    dump_.write("lmdm0_aud.bin", chunkIn_.data(), chunkIn_.size());
    dump_.write("lmdm0_pred.bin", chunkOut_.data(), chunkOut_.size());
    dump_.firstChunkDone();
  }
  timeline_.addChunk(chunkOut_.data());
  state.assign(timeline_.nextState(), timeline_.nextState() + kMotionDim);
}

// Speculative rows and a speculative timeline never outlive the committed work that follows them.
void MotionEngine::dropSpeculation() {
  rows_ -= specRows_;
  specRows_ = 0;
  cond_.resize(size_t(rows_) * kCondDim);
}

void MotionEngine::restoreCheckpoint() {
  if (!checkpointInUse_) return;
  timeline_.restore(checkpoint_);
  checkpointInUse_ = false;
}

void MotionEngine::runCommitted() {
  dropSpeculation();
  while (windowReady(windowPos_)) {
    appendWindow(windowPos_);
    if (dump_.firstWindowPending()) {
      dump_.write("mel0.bin", frontend_.mel().data(), frontend_.mel().size());
      dump_.write("feat0.bin", frontend_.features().data(), frontend_.features().size());
      dump_.firstWindowDone();
    }
    windowPos_ += kWindowFrames;
  }
  while (chunkReady(chunks_)) {
    restoreCheckpoint();
    runChunk(chunks_, state_, true);
    ++chunks_;
    eager_.markFresh();
  }
}

void MotionEngine::speculate() {
  const auto started = std::chrono::steady_clock::now();
  const int64_t h = heardFrames();
  for (int64_t w = windowPos_; w < h; w += kWindowFrames) {
    appendWindow(w);
    specRows_ += kWindowFrames;
  }
  restoreCheckpoint();
  if (chunks_ * kChunkStride < h && rows_ > 0) {
    checkpoint_ = timeline_.checkpoint();
    checkpointInUse_ = true;
    std::vector<float> state = state_;
    for (int64_t k = chunks_; k * kChunkStride < h; ++k) runChunk(k, state, false);
  }
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - started;
  eager_.stepDone(h, took.count());
}

void MotionEngine::buildFinal() {
  runCommitted();
  restoreCheckpoint();
  const size_t total = size_t(total_);
  if (timeline_.length() < total) throw std::logic_error("le_motion: timeline shorter than the audio");
  dump_.write("res_post.bin", timeline_.frames().data(), total * kMotionDim);
  timeline_.finalize(total, tables_.motionMin.data(), tables_.motionMax.data());
  dump_.write("final.bin", timeline_.frames().data(), total * kMotionDim);
  final_ = true;
}

void MotionEngine::finish() {
  if (finished_) return;
  finished_ = true;
  total_ = heardFrames();
  if (!dump_.on()) return;
  buildFinal();
  dump_.write("cond.bin", cond_.data(), cond_.size());
}

int64_t MotionEngine::available() const {
  if (final_) return std::max<int64_t>(0, total_ - pulled_);
  const int64_t length = int64_t(timeline_.length());
  if (eager_.on() && !finished_) return eager_.available(length, pulled_);
  return std::max<int64_t>(0, std::min(length - kStateFromEnd, rows_ - 1) - pulled_);
}

int MotionEngine::avail() {
  if (finished_) {
    if (!final_) buildFinal();
  } else {
    runCommitted();
    if (eager_.shouldStep(heardFrames(), pulled_)) speculate();
  }
  return int(std::min<int64_t>(available(), INT32_MAX));
}

const float* MotionEngine::motionOf(int64_t t) {
  if (final_) return timeline_.frame(size_t(t));
  timeline_.readout(size_t(t), tables_.motionMin.data(), tables_.motionMax.data(), readout_.data());
  return readout_.data();
}

int MotionEngine::pull(int32_t* rows, float* target, float* keypoints, int max) {
  const int n = std::min(avail(), max);
  for (int i = 0; i < n; ++i) {
    float* tgt = target + size_t(i) * kKpFloats;
    float* kp = keypoints + size_t(i) * kKpFloats;
    const int s = walk_.row(pulled_, nt());
    float xs[kKpFloats], xd[kKpFloats];
    try {
      emitter_.emit(s, motionOf(pulled_), tgt, kp, xs, xd);
    } catch (...) {
      // Frames already written are handed out; the failure shows on the next call.
      if (i == 0) throw;
      return i;
    }
    dump_.append("xsla.bin", xs, kKpFloats);
    dump_.append("xdla.bin", xd, kKpFloats);
    dump_.append("xs.bin", tgt, kKpFloats);
    dump_.append("xd.bin", kp, kKpFloats);
    if (rows) rows[i] = s;
    ++pulled_;
  }
  return n;
}

void MotionEngine::reset(int start, int direction, int loop) {
  walk_.restart(start, direction, loop, pulled_, nt());
  walk_.setStart(std::clamp(walk_.start(), 0, nt() - 1));
  audio_.clear();
  finished_ = false;
  total_ = 0;
  cond_.clear();
  rows_ = specRows_ = windowPos_ = chunks_ = pulled_ = 0;
  state_ = initialState_;
  timeline_.clear();
  checkpointInUse_ = false;
  final_ = false;
  eager_.clear();
  emitter_.clearReference();
  dump_.restart();
}

void MotionEngine::setEager(int eager) {
  eager_.setValue(eager);
  // Without speculation the committed bound applies again, so no speculative frame may remain.
  if (!eager_.on()) {
    dropSpeculation();
    restoreCheckpoint();
  }
}

}  // namespace le::audio
