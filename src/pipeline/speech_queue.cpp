#include "pipeline/speech_queue.h"

#include <algorithm>
#include <stdexcept>

namespace le::utt {

namespace {
constexpr size_t kRow = LE_HOST_KP_FLOATS;
}

SpeechQueue::SpeechQueue()
    : si_(kCapacity), ks_(size_t(kCapacity) * kRow), kd_(size_t(kCapacity) * kRow) {}

void SpeechQueue::compact() {
  const int n = size();
  std::copy_n(si_.begin() + head_, n, si_.begin());
  std::copy_n(ks_.begin() + ptrdiff_t(head_ * kRow), size_t(n) * kRow, ks_.begin());
  std::copy_n(kd_.begin() + ptrdiff_t(head_ * kRow), size_t(n) * kRow, kd_.begin());
  head_ = 0;
  tail_ = n;
}

void SpeechQueue::append(const int32_t* si, const float* ks, const float* kd, int n) {
  if (n < 0 || n > kCapacity - size()) throw std::logic_error("speech queue: append past its capacity");
  if (tail_ + n > kCapacity) compact();
  std::copy_n(si, n, si_.begin() + tail_);
  std::copy_n(ks, size_t(n) * kRow, ks_.begin() + ptrdiff_t(size_t(tail_) * kRow));
  std::copy_n(kd, size_t(n) * kRow, kd_.begin() + ptrdiff_t(size_t(tail_) * kRow));
  tail_ += n;
}

}  // namespace le::utt
