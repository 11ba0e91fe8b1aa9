// The hand-off between the offline stream's render thread and its pasting caller: a ring of four
// crop buffers, a produced and a consumed count, and the flags that end a run early.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace le {

class CropRing {
 public:
  static constexpr int kSlots = 4;

  explicit CropRing(size_t cropFloats);

  // Render side: waits for a free slot and copies crop k into it; false when the run stopped.
  bool put(int64_t k, const float* crop);
  // Render side: the thread ends, failed or finished.
  void finish(bool failed);

  // Paste side: waits until crop k is in the ring and returns it; nullptr when it will never come
  // (the render thread failed or finished before producing it). Crops made before a failure are
  // still handed out.
  const float* take(int64_t k);
  // Paste side: crop k is pasted, its slot is free again.
  void release(int64_t k);
  // Paste side: the run ends early; a waiting render thread returns.
  void stop();

  bool renderFailed() const;

 private:
  const size_t cropFloats_;
  std::vector<float> slots_;  // kSlots crops; slot k % kSlots holds crop k
  mutable std::mutex mutex_;  // guards the counts and flags below
  std::condition_variable produced_, consumed_;
  int64_t producedCount_ = 0;
  int64_t consumedCount_ = 0;
  bool renderDone_ = false;
  bool renderFailed_ = false;
  bool stopped_ = false;
};

}  // namespace le
