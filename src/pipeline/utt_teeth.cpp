// The teeth stage: with a borrow attached, every crop passes through it one frame behind before it
// is pasted, inline on the producer or on the teeth thread. An idle frame first drains the frame the
// borrow holds; a borrow failure stops all further delivery (teeth-fatal).
#include "pipeline/utt.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

constexpr auto kWaitStep = std::chrono::milliseconds(2);
// The teeth queue holds at most this many jobs; the producer waits rather than grow it.
constexpr size_t kTeethQueueMax = 2;

constexpr const char* kHeldWithoutPending =
    "flush: the pass held no pending frame while a crop was held \xe2\x80\x94 refusing to deliver it uncomposed";

}  // namespace

bool le_utt::borrowAttached() {
  std::lock_guard<std::mutex> lock(mu_);
  return teeth_.borrow != nullptr;
}

bool le_utt::teethFatal() {
  std::lock_guard<std::mutex> lock(mu_);
  return teeth_.fatal;
}

void le_utt::noteTeethFail(const std::string& message) {
  std::lock_guard<std::mutex> lock(mu_);
  ++teeth_.refused;
  teeth_.lastMessage = message.empty() ? "unknown failure" : message;
  teeth_.fatal = true;
}

le_utt::AdmitTime le_utt::admitThroughTeeth(const le::utt::FrameOrder& order) {
  if (settings_.teethThread) return queueTeeth(order);
  const auto t0 = Clock::now();
  le::utt::PasteJob job = jobOf(order, size_t(ctx_.manifest.crop) * size_t(ctx_.manifest.crop) * 3, p_.generation);
  teethJob(job);
  AdmitTime time;
  time.totalMs = msSince(t0);
  return time;
}

le_utt::AdmitTime le_utt::queueTeeth(const le::utt::FrameOrder& order) {
  const auto t0 = Clock::now();
  le::utt::PasteJob job = jobOf(order, size_t(ctx_.manifest.crop) * size_t(ctx_.manifest.crop) * 3, p_.generation);
  AdmitTime time;
  {
    std::unique_lock<std::mutex> lock(mu_);
    const auto waitStart = Clock::now();
    while (!stop_ && generation_ == job.generation && teethQueue_.size() >= kTeethQueueMax) cv_.wait_for(lock, kWaitStep);
    time.waitMs = msSince(waitStart);
    if (!stop_ && generation_ == job.generation) teethQueue_.push_back(std::move(job));
  }
  teethCv_.notify_all();
  time.totalMs = msSince(t0);
  return time;
}

void le_utt::teethLoop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    teethCv_.wait(lock, [&] { return teethQuit_ || stop_ || !teethQueue_.empty(); });
    if (teethQuit_ || stop_) return;
    le::utt::PasteJob job = std::move(teethQueue_.front());
    teethQueue_.pop_front();
    if (job.generation < generation_) continue;  // made before an interrupt
    ++counters_.jobsB;
    lock.unlock();
    teethJob(job);
    lock.lock();
    cv_.notify_all();
  }
}

// One frame through the stage: a new interrupt generation first drops what the borrow holds.
void le_utt::teethJob(le::utt::PasteJob& job) {
  bool newGeneration = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    newGeneration = job.generation != teeth_.lastGeneration;
    teeth_.lastGeneration = job.generation;
  }
  if (newGeneration) dropHeldTeeth();
  if (teethFatal()) return;
  if (!job.hasCrop) {
    drainTeeth();
    if (!teethFatal()) forwardFromTeeth(job);
    return;
  }
  pushTeeth(job);
}

void le_utt::pushTeeth(le::utt::PasteJob& job) {
  std::shared_ptr<le::tessera::StreamBorrow> borrow;
  {
    std::lock_guard<std::mutex> lock(mu_);
    borrow = teeth_.borrow;
  }
  if (!borrow) return;
  const auto t0 = Clock::now();
  le::tessera::FrameResult result;
  bool emitted = false;
  try {
    emitted = borrow->push(job.crop.data(), job.kp.data(), result);
  } catch (const std::exception& e) {
    noteTeethFail(e.what());
    return;
  }
  le::utt::PasteJob finished;
  bool deliver = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    counters_.stageBMs += msSince(t0);
    if (teeth_.borrow != borrow) return;  // replaced meanwhile: this frame belongs to no borrow
    teeth_.synth = borrow->synthStats();
    if (emitted && teeth_.hasHeld) {
      finished = std::move(teeth_.held);
      deliver = true;
    }
    teeth_.held = std::move(job);
    teeth_.hasHeld = true;
  }
  if (deliver) finishHeld(finished, result);
}

// Emits the frame the borrow holds: finished with its teeth and sent on.
void le_utt::drainTeeth() {
  std::shared_ptr<le::tessera::StreamBorrow> borrow;
  {
    std::lock_guard<std::mutex> lock(mu_);
    borrow = teeth_.borrow;
  }
  if (!borrow) return;
  le::tessera::FrameResult result;
  bool emitted = false;
  try {
    emitted = borrow->flush(result);
  } catch (const std::exception& e) {
    noteTeethFail(e.what());
    return;
  }
  le::utt::PasteJob held;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (teeth_.borrow != borrow || !teeth_.hasHeld) return;
    teeth_.hasHeld = false;
    held = std::move(teeth_.held);
  }
  if (!emitted) {
    noteTeethFail(kHeldWithoutPending);
    return;
  }
  finishHeld(held, result);
}

// An interrupt's new generation: the held frame is flushed out of the pass and dropped.
void le_utt::dropHeldTeeth() {
  std::shared_ptr<le::tessera::StreamBorrow> borrow;
  {
    std::lock_guard<std::mutex> lock(mu_);
    borrow = teeth_.borrow;
    teeth_.hasHeld = false;
  }
  if (!borrow) return;
  le::tessera::FrameResult discarded;
  try {
    borrow->flush(discarded);
  } catch (const std::exception& e) {
    noteTeethFail(e.what());
  }
}

void le_utt::finishHeld(le::utt::PasteJob& held, const le::tessera::FrameResult& result) {
  try {
    std::shared_ptr<le::tessera::StreamBorrow> borrow;
    {
      std::lock_guard<std::mutex> lock(mu_);
      borrow = teeth_.borrow;
    }
    if (!borrow) return;
    le::tessera::StreamBorrow::writeWindowDelta(held.crop.data(), ctx_.manifest.crop, result, borrow->stamp());
  } catch (const std::exception& e) {
    noteTeethFail(e.what());
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++teeth_.borrowed;
    if (!result.refused) teeth_.lastSynth = result.synthMean;
  }
  forwardFromTeeth(held);
}

// A frame leaving the teeth stage goes on to the paste: through the paste queue when paste is
// pipelined (always so on the teeth thread), else composited right here on the producer.
void le_utt::forwardFromTeeth(le::utt::PasteJob& job) {
  const le::utt::FrameOrder order = orderOf(job);
  if (settings_.pipelinedPaste) {
    queuePaste(order, job.generation);
  } else {
    pasteNow(order, job.generation);
  }
}
