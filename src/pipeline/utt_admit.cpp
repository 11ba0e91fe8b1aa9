// Admitting finished frames into the output ring: on the producer itself, or through the paste
// queue and the paste thread when pipelined paste is on.
#include "pipeline/utt.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

constexpr auto kWaitStep = std::chrono::milliseconds(2);
// The paste queue holds at most this many jobs; the producer waits rather than grow it.
constexpr size_t kPasteQueueMax = 8;

}  // namespace

// With a teeth borrow attached, frames pass through the teeth stage before the paste.
le_utt::AdmitTime le_utt::admit(const le::utt::FrameOrder& order) {
  if (borrowAttached()) return admitThroughTeeth(order);
  return settings_.pipelinedPaste ? queuePaste(order, p_.generation) : pasteNow(order, p_.generation);
}

le_utt::AdmitTime le_utt::pasteNow(const le::utt::FrameOrder& order, int64_t generation) {
  const auto t0 = Clock::now();
  AdmitTime time;
  if (waitForRingSlot(generation, time.waitMs)) {
    const size_t slot = ring_.writeSlot();
    time.failed = !fillSlot(slot, order.crop, order.idx);
    if (!time.failed) publish(slot, order, generation);
  }
  time.totalMs = msSince(t0);
  return time;
}

bool le_utt::waitForRingSlot(int64_t generation, double& waitMs) {
  std::unique_lock<std::mutex> lock(mu_);
  const auto t0 = Clock::now();
  while (!stop_ && generation_ == generation && ring_.full()) cv_.wait_for(lock, kWaitStep);
  waitMs += msSince(t0);
  return !stop_ && generation_ == generation;
}

bool le_utt::fillSlot(size_t slot, const float* crop, int idx) {
  uint8_t* frame = ring_.slot(slot).frame.data();
  try {
    if (crop) {
      // The driver frame is read where the cursor decoded it; the paste writes the slot.
      const le::DriverCursor::Lease driver = ctx_.cursor->leaseAt(idx);
      ctx_.paste->composite(crop, 255.0f, ctx_.identity.M(idx), driver.data(), frame, ctx_.manifest.W,
                            ctx_.manifest.H);
    } else {
      ctx_.cursor->pullAt(idx, frame);
      ctx_.identity.walkP(idx);
    }
    return true;
  } catch (const std::exception& e) {
    noteRenderFail("paste", e.what(), true);
  } catch (...) {
    noteRenderFail("paste", "", true);
  }
  return false;
}

// Publishes the filled slot unless the pipeline stopped or an interrupt came meanwhile.
bool le_utt::publish(size_t slot, const le::utt::FrameOrder& order, int64_t generation) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (stop_ || generation_ != generation) return false;
    le::utt::RingSlot& s = ring_.slot(slot);
    s.kind = order.kind;
    s.idx = order.idx;
    s.frameNo = order.frameNo;
    if (order.kp) {
      std::copy_n(order.kp, s.kp.size(), s.kp.begin());
    } else {
      s.kp.fill(0.0f);
    }
    ring_.publish();
    if (order.kind == 1) ++counters_.deliveredSpeech;
    if (order.kind == 1 && order.frameNo == 0) {
      ++stats_.utterancesStarted;
      stats_.lastLatencyMs = nowMs() - uttStartMs_;
    }
  }
  cv_.notify_all();
  return true;
}

le::utt::PasteJob le_utt::jobOf(const le::utt::FrameOrder& order, size_t cropFloats, int64_t generation) {
  le::utt::PasteJob job;
  if (order.crop) {
    job.crop.assign(order.crop, order.crop + cropFloats);
    job.hasCrop = true;
  }
  job.kind = order.kind;
  job.idx = order.idx;
  job.frameNo = order.frameNo;
  if (order.kp) std::copy_n(order.kp, job.kp.size(), job.kp.begin());
  job.generation = generation;
  job.queuedMs = nowMs();
  return job;
}

le::utt::FrameOrder le_utt::orderOf(const le::utt::PasteJob& job) {
  return {job.hasCrop ? job.crop.data() : nullptr, job.kind, job.idx, job.frameNo, job.kp.data()};
}

le_utt::AdmitTime le_utt::queuePaste(const le::utt::FrameOrder& order, int64_t generation) {
  const auto t0 = Clock::now();
  le::utt::PasteJob job = jobOf(order, size_t(ctx_.manifest.crop) * size_t(ctx_.manifest.crop) * 3, generation);
  AdmitTime time;
  {
    std::unique_lock<std::mutex> lock(mu_);
    const auto waitStart = Clock::now();
    while (!stop_ && generation_ == job.generation && pasteQueue_.size() >= kPasteQueueMax) {
      cv_.wait_for(lock, kWaitStep);
    }
    time.waitMs = msSince(waitStart);
    if (!stop_ && generation_ == job.generation) pasteQueue_.push_back(std::move(job));
  }
  pasteCv_.notify_all();
  time.totalMs = msSince(t0);
  return time;
}

void le_utt::pasteLoop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    pasteCv_.wait(lock, [&] { return pasteQuit_ || !pasteQueue_.empty(); });
    if (pasteQuit_) return;
    le::utt::PasteJob job = std::move(pasteQueue_.front());
    pasteQueue_.pop_front();
    ++pasteBusy_;
    lock.unlock();
    pasteJob(job);
    lock.lock();
    --pasteBusy_;
    cv_.notify_all();
  }
}

// The slot work of one job on the paste thread, counted for the stage report.
void le_utt::pasteJob(le::utt::PasteJob& job) {
  double waitMs = 0;
  if (!waitForRingSlot(job.generation, waitMs)) return;
  const auto t0 = Clock::now();
  const size_t slot = ring_.writeSlot();
  const le::utt::FrameOrder order = orderOf(job);
  const bool published = fillSlot(slot, order.crop, order.idx) && publish(slot, order, job.generation);
  const double pasteMs = msSince(t0);
  std::lock_guard<std::mutex> lock(mu_);
  ++counters_.jobsC;
  counters_.stageCMs += pasteMs;
  if (published && job.kind == 1) counters_.deliverLatencyMs += nowMs() - job.queuedMs;
}
