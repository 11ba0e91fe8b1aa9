// Rendering the producer's frames: speech from the queue (in chunks or one at a time), the ramp
// back to the idle pose, and idle frames.
#include "pipeline/utt.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

std::string describeCurrent() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "";
  }
}

constexpr size_t kRow = LE_HOST_KP_FLOATS;

}  // namespace

bool le_utt::renderSpeech(int n) {
  const int m = std::min(n, p_.queue.size());
  if (m < 1) return false;
  le::Renderer* chunk;
  {
    std::lock_guard<std::mutex> lock(mu_);
    chunk = chunk_.get();
  }
  const bool rendered = (m > 1 && chunk && m <= chunk->batch() && renderChunk(*chunk, m)) || renderSingles(m);
  if (rendered) idleIndexAfter(p_.idleIdx);
  return rendered;
}

// One call of the chunk renderer for m frames; each frame is charged a share of the call. A
// failing chunk is recorded and left to the per-frame path.
bool le_utt::renderChunk(le::Renderer& chunk, int m) {
  const float* out;
  const auto t0 = Clock::now();
  try {
    out = chunk.render(p_.queue.siRow(0), p_.queue.ks(0), p_.queue.kd(0), m);
  } catch (...) {
    noteRenderFail("b24 chunk", describeCurrent(), false);
    return false;
  }
  const double each = msSince(t0) / m;
  const size_t cropFloats = size_t(ctx_.manifest.crop) * size_t(ctx_.manifest.crop) * 3;
  for (int i = 0; i < m; ++i) admitSpeech(out + size_t(i) * cropFloats, each);
  return true;
}

// Frames rendered alone on the session's director. A failure is fatal for the status and leaves
// the frame queued for the next turn.
bool le_utt::renderSingles(int m) {
  for (int i = 0; i < m; ++i) {
    const float* crop;
    const auto t0 = Clock::now();
    try {
      crop = ctx_.renderer->render(p_.queue.siRow(0), p_.queue.ks(0), p_.queue.kd(0), 1);
    } catch (...) {
      noteRenderFail("render", describeCurrent(), true);
      return i > 0;
    }
    admitSpeech(crop, msSince(t0));
  }
  return true;
}

void le_utt::admitSpeech(const float* crop, double renderMs) {
  const int si = p_.queue.si(0);
  p_.idleIdx = p_.lastSi = si;
  std::copy_n(p_.queue.kd(0), kRow, p_.lastPose.begin());
  const AdmitTime admitted = admit({crop, 1, si, p_.frameNo, p_.lastPose.data()});
  p_.queue.popFront();
  ++p_.frameNo;
  p_.spoke = true;
  const double frameMs = renderMs + admitted.totalMs;
  std::lock_guard<std::mutex> lock(mu_);
  ++counters_.speechRendered;
  counters_.stageAMs += frameMs;
  counters_.stageAWaitMs += admitted.waitMs;
  stats_.renderMsEma = emaStarted_ ? 0.9 * stats_.renderMsEma + 0.1 * frameMs : frameMs;
  emaStarted_ = true;
}

const float* le_utt::xsTargetRow(int t) const { return xsTarget_.data() + size_t(t) * kRow; }

void le_utt::startRamp(int si, const float* pose, int frames) {
  const float* target = xsTargetRow(si);
  for (size_t k = 0; k < kRow; ++k) p_.rampDelta[k] = pose[k] - target[k];
  idleIndexAfter(si);
  p_.rampLeft = p_.rampTotal = frames;
  setState(le::utt::kRamp);
}

// Ramp frame j of n (from 1) drives with the idle pose plus (1 - j / n) of the last spoken
// offset, so the last one is exactly the idle pose. A failed frame is skipped, not retried.
void le_utt::rampFrame() {
  const int t = p_.idleIdx;
  const float* target = xsTargetRow(t);
  const float weight = 1.0f - float(p_.rampTotal - p_.rampLeft + 1) / float(p_.rampTotal);
  std::array<float, LE_HOST_KP_FLOATS> kd;
  for (size_t k = 0; k < kRow; ++k) kd[k] = target[k] + weight * p_.rampDelta[k];
  const float* crop = nullptr;
  try {
    crop = ctx_.renderer->render(&t, target, kd.data(), 1);
  } catch (...) {
    noteRenderFail("ramp", describeCurrent(), true);
  }
  if (crop) admit({crop, 2, t, -1, kd.data()});
  idleIndexAfter(t);
  if (--p_.rampLeft == 0) setState(le::utt::kIdle);
}

// False when the frame could not be made (the failure is recorded), so that a broken driver does
// not keep the producer spinning.
bool le_utt::idleFrame() {
  const int t = p_.idleIdx;
  const bool failed = admit({nullptr, 0, t, -1, nullptr}).failed;
  idleIndexAfter(t);
  return !failed;
}
