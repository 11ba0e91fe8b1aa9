// The live path of the a2x object: audio in, frames computed incrementally as they become ready,
// handed out with their target rows.
#include <algorithm>

#include "audio/a2x.h"
#include "audio/w2v_legacy.h"
#include "audio/w2v_sessions.h"
#include "audio/w2v_short.h"
#include "core/last_error.h"

namespace le {
namespace {

// Frames computed per readiness query: one frontend block with the short window, one encoder chunk
// with 8 s windows.
constexpr int64_t kShortStep = w2v::kBlockFrames;
constexpr int64_t kLongStep = 64;
constexpr int64_t kLiveChunk = 64;

}  // namespace

void A2x::push(const float* samples, int64_t count) {
  if (count > 0) audio_.insert(audio_.end(), samples, samples + count);
}

int A2x::total() const { return finished_ ? int(a2x::totalFrames(int64_t(audio_.size()))) : -1; }

int64_t A2x::availableFrames() const {
  const int64_t n = int64_t(audio_.size());
  return finished_ ? a2x::totalFrames(n) : a2x::countedFrames(n);
}

int64_t A2x::ready() const { return a2x::readyFrames(int64_t(audio_.size()), finished_, lookahead_, lag_); }

int A2x::avail() {
  const int64_t r = ready();
  if (produced_ < r) extendReporting(std::min(r, produced_ + (shortWindow() ? kShortStep : kLongStep)));
  return int(std::max<int64_t>(0, produced_ - pulled_));
}

int A2x::pull(int32_t* rows, float* target, float* kp, float* wn, int max) {
  if (max <= 0) return 0;
  const int64_t r = ready();
  if (produced_ <= pulled_) extendReporting(std::min(r, pulled_ + max));
  const int64_t end = std::min(produced_, r);
  int written = 0;
  for (int64_t t = pulled_; t < end && written < max; ++t, ++written) {
    const int row = walk_.row(t, nt_);
    const float* base = target_.data() + size_t(row) * kA2xKpFloats;
    const float* delta = deltas_.data() + size_t(t) * kA2xKpFloats;
    if (rows) rows[written] = row;
    if (target) std::copy(base, base + kA2xKpFloats, target + size_t(written) * kA2xKpFloats);
    if (kp)
      for (int64_t k = 0; k < kA2xKpFloats; ++k) kp[size_t(written) * kA2xKpFloats + k] = base[k] + delta[k];
    if (wn) wn[written] = hasWn_ && size_t(t) < wn_.size() ? wn_[size_t(t)] : 0.0f;
  }
  pulled_ += written;
  return written;
}

void A2x::extendReporting(int64_t target) {
  try {
    extend(target);
  } catch (const std::exception& e) {
    setErr<A2xFamily>("le_a2x extend", e);
  }
}

// Before finish, every computation ends on the readiness grid and the encoder runs one grid step
// per chunk, as it does when audio arrives in real time: the encoder's inputs, and so its rounding,
// are then the same however the audio was pushed and pulled.
void A2x::extend(int64_t target) {
  if (!finished_) target = a2x::gridAtOrAbove(target, lookahead_, lag_);
  target = std::min(target, ready());
  if (target <= produced_) return;
  fillFeatures(std::min(target + lookahead_, availableFrames()));
  encodeUpTo(target);
  deltas_.resize(size_t(target) * kA2xKpFloats);
  for (int64_t t = produced_; t < target; produced_ = ++t)
    decodeFrame(encoded_.data() + size_t(t * h_), prev_.data(), hidden_.data(),
                deltas_.data() + size_t(t) * kA2xKpFloats);
}

// Before finish, 8 s windows are filled one counted block at a time, each seeing only the settled
// audio of its block count: the features then come out the same however the audio was pushed and
// whenever the frames were asked for.
void A2x::fillFeatures(int64_t wanted) {
  const int64_t n = int64_t(audio_.size());
  if (shortWindow()) {
    w2v::fillShortWindows(features_, *pair_, audio_.data(), n, wanted, a2x::settledSamples(n), finished_, right_);
  } else if (!finished_) {
    const int64_t counted = a2x::countedFrames(n);
    while (features_.done < wanted && longCounted_ < counted) {
      longCounted_ += w2v::kBlockFrames;
      const int64_t limit = longCounted_ - right_;
      w2v::fillLongWindows(features_, longEncoder(), audio_.data(), a2x::settledSamplesOf(longCounted_), limit,
                           limit, false);
    }
  } else {
    w2v::fillLongWindows(features_, longEncoder(), audio_.data(), n, wanted, wanted, true);
  }
  features_.ensure(wanted);
}

void A2x::encodeUpTo(int64_t target) {
  const int64_t available = availableFrames();
  while (encodedCount_ < target) {
    const int64_t c0 = encodedCount_;
    int64_t c1 = std::min(finished_ ? c0 + kLiveChunk : a2x::gridAbove(c0, lookahead_, lag_), target);
    const int64_t s = std::max<int64_t>(0, c0 - history_);
    int64_t e = std::min(c1 + lookahead_, available);
    if (c0 < posRows_) {
      c1 = std::min(c1, posRows_);
      e = std::min(e, posRows_);
    }
    encodeChunk(features_, c0, c1, s, e, encoded_, wn_);
    encodedCount_ = c1;
  }
}

int A2x::reset(int start, int direction, int loop) {
  const int64_t pulled = pulled_;
  audio_.clear();
  audio_.shrink_to_fit();
  finished_ = false;
  features_.clear();
  longCounted_ = 0;
  encoded_.clear();
  wn_.clear();
  deltas_.clear();
  encodedCount_ = produced_ = pulled_ = 0;
  const bool primed = !primedPrev_.empty() && !primedHidden_.empty();
  prev_ = primed ? primedPrev_ : std::vector<float>(size_t(kA2xKpFloats), 0.0f);
  hidden_ = primed ? primedHidden_ : std::vector<float>(size_t(h_), 0.0f);
  // A negative start continues from the row of the first frame not pulled.
  return walk_.restart(start, direction, loop, pulled, nt_);
}

}  // namespace le
