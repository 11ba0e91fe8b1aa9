// Frames the engine handed out and the producer has not rendered yet: source index, source
// keypoints and driving keypoints in three parallel arrays of 32 frames.
#pragma once

#include <cstdint>
#include <vector>

#include "le/le.h"

namespace le::utt {

class SpeechQueue {
 public:
  static constexpr int kCapacity = 32;

  SpeechQueue();

  int size() const { return tail_ - head_; }
  bool empty() const { return head_ == tail_; }
  void clear() { head_ = tail_ = 0; }

  // Appends n frames (n <= kCapacity - size()), compacting consumed frames away first when they
  // would not fit behind the tail.
  void append(const int32_t* si, const float* ks, const float* kd, int n);
  // Row i from the head.
  int si(int i) const { return si_[size_t(head_ + i)]; }
  const int* siRow(int i) const { return &si_[size_t(head_ + i)]; }
  const float* ks(int i) const { return &ks_[size_t(head_ + i) * LE_HOST_KP_FLOATS]; }
  const float* kd(int i) const { return &kd_[size_t(head_ + i) * LE_HOST_KP_FLOATS]; }
  void popFront() { ++head_; }

 private:
  void compact();

  std::vector<int> si_;
  std::vector<float> ks_, kd_;
  int head_ = 0;  // next to render
  int tail_ = 0;  // next free
};

}  // namespace le::utt
