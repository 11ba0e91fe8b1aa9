#include "pool/pool.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <memory>
#include <thread>

#include "pool/split.h"
#include "pool/worker_pool.h"

namespace le::pool {
namespace {

// The first of LE_CORE_THREADS, LE_PASTE_THREADS that is set and not empty.
const char* budgetRequest() {
  for (const char* name : {"LE_CORE_THREADS", "LE_PASTE_THREADS"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return nullptr;
}

int environmentBudget() {
  long requested = 4;
  if (const char* text = budgetRequest()) requested = std::strtol(text, nullptr, 10);
  return capAtHardware(requested);
}

int defaultBudget() {
  static const int budget = environmentBudget();
  return budget;
}

// 0 until the budget is first read or set.
std::atomic<int> gBudget{0};

// Set while this thread runs a loop through its pool, so that a loop started from inside fn on
// this thread runs serially instead of waiting on workers that are busy with the outer loop.
thread_local bool tInLoop = false;

// This thread's workers, joined when the thread exits.
thread_local std::unique_ptr<WorkerPool> tPool;

struct InLoopFlag {
  InLoopFlag() { tInLoop = true; }
  ~InLoopFlag() { tInLoop = false; }
};

}  // namespace

int capAtHardware(long n) {
  if (n < 1) return 1;
  const unsigned hw = std::thread::hardware_concurrency();
  if (hw > 0 && static_cast<unsigned long>(n) > hw) return static_cast<int>(hw);
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

int threads() {
  const int budget = gBudget.load(std::memory_order_acquire);
  if (budget > 0) return budget;
  int expected = 0;
  gBudget.compare_exchange_strong(expected, defaultBudget(), std::memory_order_acq_rel);
  return gBudget.load(std::memory_order_acquire);
}

int setThreads(int n) {
  const int budget = n < 1 ? defaultBudget() : capAtHardware(n);
  gBudget.store(budget, std::memory_order_release);
  return budget;
}

bool available() { return true; }

int parts(size_t n, size_t grain) { return partCount(n, grain, threads()); }

void parallelRange(size_t n, size_t grain, const std::function<void(size_t, size_t)>& fn) {
  // One reading of the budget serves the split and the pool, so a budget set meanwhile by
  // another thread never asks for more parts than this pool has threads.
  const int budget = threads();
  const int k = partCount(n, grain, budget);
  // A worker's nested loop stays on that worker: a pool per worker would multiply the budget.
  if (tInLoop || WorkerPool::onWorkerThread() || k < 2) {
    fn(0, n);
    return;
  }
  if (!tPool || tPool->threadCount() != budget) {
    tPool.reset();
    tPool = std::make_unique<WorkerPool>(budget);
  }
  InLoopFlag flag;
  tPool->run(n, k, fn);
}

}  // namespace le::pool
