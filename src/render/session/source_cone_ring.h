// The source-cone ring of a hoisted director: the cone's output (the boundary tensor) for two
// source frames, computed by a prep session on a thread of its own one frame ahead of need, so
// that in steady playback the per-frame graph finds its boundary ready.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace le {

class Identity;

// Guesses the next source frame from the last ones: playback steps by one, bounces at the ends of
// the source frames, or loops once it has been seen to wrap from the last frame to the first.
class SourceOrderPredictor {
 public:
  // The frame expected after v, among frameCount source frames.
  int next(int v, int frameCount);

 private:
  int last_ = -1;
  int step_ = 1;
  bool looping_ = false;
};

class SourceConeRing {
 public:
  // prep computes `boundary` (of the static `shape`) from P_rgb [1, 3, crop, crop]; prior is the
  // crop x crop x 3 float buffer its input is bound over. Starts the prep thread.
  SourceConeRing(Ort::Session prep, std::string boundary, std::vector<int64_t> shape, Identity& identity,
                 std::vector<float>& prior, int crop);
  // Stops and joins the prep thread.
  ~SourceConeRing();
  SourceConeRing(const SourceConeRing&) = delete;
  SourceConeRing& operator=(const SourceConeRing&) = delete;

  // The boundary of source frame v: from the ring, or computed on the calling thread on a miss.
  // Throws "Renderer: the hoisted source cone failed in ORT — " + the first prep failure.
  Ort::Value& acquire(int v);
  // Asks the prep thread for the frame predicted to follow v, unless the ring holds it already.
  void prefetchAfter(int v);

  const std::string& boundary() const { return boundary_; }
  int64_t hits();
  int64_t misses();

 private:
  struct Slot {
    int source = -1;  // -1: empty or being filled
    std::vector<float> values;
    Ort::Value tensor{nullptr};
  };
  static constexpr int kNoRequest = -1;

  // Runs the prep graph for source frame v into slot s; entered and left with lock held, which is
  // released while the graph runs.
  void runPrepLocked(std::unique_lock<std::mutex>& lock, int v, int s);
  void prepLoop();
  int slotHolding(int v) const;

  Ort::Session prep_;
  Ort::IoBinding prepBinding_{nullptr};
  Ort::Value priorTensor_{nullptr};
  const std::string boundary_;
  Identity& identity_;
  std::vector<float>& prior_;
  const size_t priorCount_;
  const int frames_;

  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_:
  std::array<Slot, 2> slots_;
  int requestSource_ = kNoRequest;
  int requestSlot_ = kNoRequest;
  int slotInUse_ = -1;
  bool stop_ = false;
  std::string failure_;
  int64_t hits_ = 0;
  int64_t misses_ = 0;

  SourceOrderPredictor predictor_;  // caller's thread only
  std::thread thread_;
};

}  // namespace le
