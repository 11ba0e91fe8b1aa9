// The host's side of a pipeline: audio in, frames out, state and counters, all under the main lock.
#include <algorithm>
#include <cstring>

#include "pipeline/utt.h"

namespace {

void copyText(const std::string& text, char* buf, int bufLen) {
  if (!buf || bufLen < 1) return;
  const size_t n = std::min(text.size(), size_t(bufLen - 1));
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
}

}  // namespace

int le_utt::ready(std::string& error) {
  std::lock_guard<std::mutex> lock(mu_);
  if (engineFailed_) {
    error = engineError_;
    return -1;
  }
  return engine_ ? 1 : 0;
}

void le_utt::pushAudio(const int16_t* samples, int count) {
  constexpr float kScale = 1.0f / 32768.0f;
  {
    std::lock_guard<std::mutex> lock(mu_);
    const size_t at = pendingAudio_.size();
    pendingAudio_.resize(at + size_t(count));
    for (int i = 0; i < count; ++i) pendingAudio_[at + size_t(i)] = float(samples[i]) * kScale;
    lastPushMs_ = nowMs();
    if (untakenPushMs_ < 0) untakenPushMs_ = lastPushMs_;
  }
  cv_.notify_all();
  pasteCv_.notify_all();
}

void le_utt::endUtterance() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    endFlag_ = true;
  }
  cv_.notify_all();
}

void le_utt::interrupt() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    pendingAudio_.clear();
    ring_.discard();
    endFlag_ = false;
    pasteQueue_.clear();
    ++generation_;
  }
  cv_.notify_all();
  pasteCv_.notify_all();
}

int le_utt::framesAvailable() {
  std::lock_guard<std::mutex> lock(mu_);
  return ring_.fill();
}

int le_utt::pullFrame(uint8_t* out, size_t outLen, le_utt_frame_info* info) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (ring_.fill() < 1) return 0;
    le::utt::RingSlot& s = ring_.front();
    if (outLen < s.frame.size()) return -1;
    std::memcpy(out, s.frame.data(), s.frame.size());
    if (info) *info = le_utt_frame_info{s.seq, s.kind, s.idx, s.frameNo};
    lastPulled_ = le::utt::PulledFrame{true, s.kind, s.idx, s.kp};
    ring_.popFront();
    ++stats_.framesPulled;
    if (s.kind == 1) ++stats_.speechFramesPulled;
  }
  cv_.notify_all();
  return 1;
}

void le_utt::stats(le_utt_stats& out) {
  std::lock_guard<std::mutex> lock(mu_);
  out = stats_;
  out.reserved = 0;
}

int le_utt::renderStatus(char* buf, int bufLen, int64_t* failCount) {
  std::lock_guard<std::mutex> lock(mu_);
  copyText(failText_, buf, bufLen);
  if (failCount) *failCount = failCount_;
  return fatal_ ? -1 : 0;
}
