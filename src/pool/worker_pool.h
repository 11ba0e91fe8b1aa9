// The workers that serve the parallel loops of one calling thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace le::pool {

// threadCount - 1 workers, started at construction and joined at destruction. The owning thread
// runs one loop at a time through run(); workers wait on a generation counter between loops.
class WorkerPool {
 public:
  using Job = std::function<void(size_t, size_t)>;

  explicit WorkerPool(int threadCount);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Runs fn over k parts of [0, n): part 0 here, part j on worker j. Returns once every worker
  // has reported the loop finished; rethrows the exception of the lowest-numbered failing part.
  void run(size_t n, int k, const Job& fn);

  // The threads this pool serves a loop with: the caller and its workers.
  int threadCount() const { return static_cast<int>(workers_.size()) + 1; }

  // True on a worker of any pool.
  static bool onWorkerThread();

 private:
  void workerLoop(int index);
  // Runs part j of the current loop, recording its exception instead of letting it escape.
  void runPart(int j) noexcept;

  std::vector<std::thread> workers_;

  std::mutex mutex_;
  // Guarded by mutex_: everything below. Workers read job_, total_ and parts_ unlocked while
  // pending_ > 0, since run() does not change them before every worker has reported back.
  std::condition_variable go_;
  std::condition_variable done_;
  const Job* job_ = nullptr;
  size_t total_ = 0;
  int parts_ = 0;
  int pending_ = 0;
  uint64_t generation_ = 0;
  bool stop_ = false;
  std::exception_ptr error_;
  int errorPart_ = 0;
};

}  // namespace le::pool
