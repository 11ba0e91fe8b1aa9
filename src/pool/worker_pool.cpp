#include "pool/worker_pool.h"

#include "pool/split.h"

namespace le::pool {
namespace {

thread_local bool tIsWorker = false;

}  // namespace

bool WorkerPool::onWorkerThread() { return tIsWorker; }

WorkerPool::WorkerPool(int threadCount) {
  for (int i = 1; i < threadCount; ++i) workers_.emplace_back([this, i] { workerLoop(i); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
    stop_ = true;
  }
  go_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void WorkerPool::run(size_t n, int k, const Job& fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = &fn;
    parts_ = k;
    total_ = n;
    ++generation_;
    pending_ = static_cast<int>(workers_.size());
    error_ = nullptr;
  }
  go_.notify_all();
  runPart(0);
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    job_ = nullptr;
    error = std::move(error_);
    error_ = nullptr;
  }
  if (error) std::rethrow_exception(error);
}

void WorkerPool::runPart(int j) noexcept {
  const Range r = partRange(total_, parts_, j);
  if (r.begin >= r.end) return;
  try {
    (*job_)(r.begin, r.end);
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!error_ || j < errorPart_) {
      error_ = std::current_exception();
      errorPart_ = j;
    }
  }
}

void WorkerPool::workerLoop(int index) {
  tIsWorker = true;
  uint64_t served = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      go_.wait(lock, [&] { return generation_ != served; });
      served = generation_;
      if (stop_) return;
    }
    if (index < parts_) runPart(index);
    std::lock_guard<std::mutex> lock(mutex_);
    if (--pending_ == 0) done_.notify_all();
  }
}

}  // namespace le::pool
