#include "pipeline/crop_ring.h"

#include <algorithm>

namespace le {

CropRing::CropRing(size_t cropFloats) : cropFloats_(cropFloats), slots_(cropFloats * kSlots) {}

bool CropRing::put(int64_t k, const float* crop) {
  std::unique_lock<std::mutex> lock(mutex_);
  consumed_.wait(lock, [&] { return stopped_ || producedCount_ - consumedCount_ < kSlots; });
  if (stopped_) return false;
  // The slot is free: the paste side only reads slots below producedCount_ it has not released.
  lock.unlock();
  std::copy(crop, crop + cropFloats_, slots_.begin() + std::ptrdiff_t(size_t(k % kSlots) * cropFloats_));
  lock.lock();
  producedCount_ = k + 1;
  produced_.notify_all();
  return true;
}

void CropRing::finish(bool failed) {
  std::lock_guard<std::mutex> lock(mutex_);
  renderDone_ = true;
  renderFailed_ = failed;
  produced_.notify_all();
}

const float* CropRing::take(int64_t k) {
  std::unique_lock<std::mutex> lock(mutex_);
  produced_.wait(lock, [&] { return producedCount_ > k || renderDone_; });
  if (producedCount_ <= k) return nullptr;
  return slots_.data() + size_t(k % kSlots) * cropFloats_;
}

void CropRing::release(int64_t k) {
  std::lock_guard<std::mutex> lock(mutex_);
  consumedCount_ = k + 1;
  consumed_.notify_all();
}

void CropRing::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  consumed_.notify_all();
}

bool CropRing::renderFailed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return renderFailed_;
}

}  // namespace le
