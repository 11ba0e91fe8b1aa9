#include "render/session/source_cone_ring.h"

#include <stdexcept>

#include "bundle/identity.h"
#include "render/graph/onnx_graph_reader.h"
#include "simd/simd.h"

namespace le {

namespace {

int wrap(int p, int n) { return ((p % n) + n) % n; }

}  // namespace

int SourceOrderPredictor::next(int v, int frameCount) {
  int p = v;
  if (frameCount > 1 && last_ == frameCount - 1 && v == 0) {
    looping_ = true;
    if (last_ == 1) step_ = -1;
    p = wrap(step_, frameCount);
  } else if (frameCount > 1) {
    if (last_ >= 0 && (v - last_ == 1 || v - last_ == -1)) step_ = v - last_;
    p = v + step_;
    if (looping_) p = wrap(p, frameCount);
    else if (p >= frameCount) p = frameCount - 2;
    else if (p < 0) p = 1;
  }
  last_ = v;
  return p;
}

SourceConeRing::SourceConeRing(Ort::Session prep, std::string boundary, std::vector<int64_t> shape,
                               Identity& identity, std::vector<float>& prior, int crop)
    : prep_(std::move(prep)), boundary_(std::move(boundary)), identity_(identity), prior_(prior),
      priorCount_(size_t(3) * crop * crop), frames_(identity.NT()) {
  const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  int64_t count = 1;
  for (int64_t d : shape) count *= d;
  for (Slot& slot : slots_) {
    slot.values.assign(size_t(count), 0.0f);
    slot.tensor = Ort::Value::CreateTensor<float>(memory, slot.values.data(), slot.values.size(), shape.data(),
                                                  shape.size());
  }
  const std::array<int64_t, 4> priorShape{1, 3, crop, crop};
  priorTensor_ = Ort::Value::CreateTensor<float>(memory, prior_.data(), priorCount_, priorShape.data(),
                                                 priorShape.size());
  prepBinding_ = Ort::IoBinding(prep_);
  prepBinding_.BindInput(kPriorInput, priorTensor_);
  thread_ = std::thread(&SourceConeRing::prepLoop, this);
}

SourceConeRing::~SourceConeRing() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

int SourceConeRing::slotHolding(int v) const {
  for (size_t s = 0; s < slots_.size(); ++s)
    if (slots_[s].source == v) return int(s);
  return -1;
}

void SourceConeRing::runPrepLocked(std::unique_lock<std::mutex>& lock, int v, int s) {
  Slot& slot = slots_[size_t(s)];
  lock.unlock();
  std::string error;
  try {
    simd::f16ToF32(identity_.P(v), prior_.data(), priorCount_);
    prepBinding_.BindOutput(boundary_.c_str(), slot.tensor);
    prep_.Run(Ort::RunOptions{nullptr}, prepBinding_);
  } catch (const std::exception& e) {
    error = e.what();
    if (error.empty()) error = "unknown error";
  }
  lock.lock();
  if (error.empty()) slot.source = v;
  else if (failure_.empty()) failure_ = error;
}

Ort::Value& SourceConeRing::acquire(int v) {
  std::unique_lock<std::mutex> lock(mutex_);
  slotInUse_ = -1;
  while (failure_.empty()) {
    const int held = slotHolding(v);
    if (held >= 0) {
      ++hits_;
      slotInUse_ = held;
      return slots_[size_t(held)].tensor;
    }
    if (requestSource_ == kNoRequest) {
      // With no slot in use every slot is free, so the first one takes the frame; a frame computed
      // here counts as a miss only, not also as a hit.
      ++misses_;
      slots_[0].source = -1;
      runPrepLocked(lock, v, 0);
      if (slots_[0].source == v) {
        slotInUse_ = 0;
        return slots_[0].tensor;
      }
    } else {
      changed_.wait(lock);
    }
  }
  throw std::runtime_error("Renderer: the hoisted source cone failed in ORT \xe2\x80\x94 " + failure_);
}

void SourceConeRing::prefetchAfter(int v) {
  const int p = predictor_.next(v, frames_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (requestSource_ != kNoRequest || !failure_.empty() || slotHolding(p) >= 0) return;
    for (size_t s = 0; s < slots_.size(); ++s) {
      if (int(s) == slotInUse_) continue;
      slots_[s].source = -1;
      requestSource_ = p;
      requestSlot_ = int(s);
      break;
    }
  }
  changed_.notify_one();
}

void SourceConeRing::prepLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (requestSource_ == kNoRequest) {
      changed_.wait(lock);
      continue;
    }
    runPrepLocked(lock, requestSource_, requestSlot_);
    requestSource_ = requestSlot_ = kNoRequest;
    changed_.notify_all();
  }
}

int64_t SourceConeRing::hits() {
  std::lock_guard<std::mutex> lock(mutex_);
  return hits_;
}

int64_t SourceConeRing::misses() {
  std::lock_guard<std::mutex> lock(mutex_);
  return misses_;
}

}  // namespace le
