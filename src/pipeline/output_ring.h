// The pipeline's output ring: 8 finished frames, written in order by one writer and read in order
// by the host. The writer fills a reserved slot outside the main lock and publishes it under the
// lock, so a reader never sees a slot before it is complete.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "le/le.h"

namespace le::utt {

struct RingSlot {
  std::vector<uint8_t> frame;  // W x H x 3
  int64_t seq = 0;
  int32_t kind = 0, idx = 0, frameNo = -1;
  std::array<float, LE_HOST_KP_FLOATS> kp{};
};

class OutputRing {
 public:
  static constexpr int kSlots = 8;

  int fill() const { return int(written_ - read_); }
  bool full() const { return fill() >= kSlots; }
  // The slot the writer fills next.
  size_t writeSlot() const { return size_t(written_ % kSlots); }
  RingSlot& slot(size_t i) { return slots_[i]; }
  // Publishes the write slot under the next sequence number.
  void publish() {
    slots_[writeSlot()].seq = written_;
    ++written_;
  }
  // The oldest waiting frame; fill() must be positive.
  RingSlot& front() { return slots_[size_t(read_ % kSlots)]; }
  void popFront() { ++read_; }
  // Drops every waiting frame.
  void discard() { read_ = written_; }

 private:
  std::array<RingSlot, kSlots> slots_;
  int64_t written_ = 0;
  int64_t read_ = 0;
};

}  // namespace le::utt
