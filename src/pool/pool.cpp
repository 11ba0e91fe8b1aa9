#include "pool/pool.h"

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

int computeBudget() {
  long requested = 4;
  if (const char* text = budgetRequest()) {
    requested = std::strtol(text, nullptr, 10);
    if (requested <= 0) requested = 1;
    if (requested > INT_MAX) requested = INT_MAX;
  }
  const unsigned hw = std::thread::hardware_concurrency();
  if (hw > 0 && hw < static_cast<unsigned long>(requested)) return static_cast<int>(hw);
  return static_cast<int>(requested);
}

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

int threads() {
  static const int budget = computeBudget();
  return budget;
}

bool available() { return true; }

int parts(size_t n, size_t grain) { return partCount(n, grain, threads()); }

void parallelRange(size_t n, size_t grain, const std::function<void(size_t, size_t)>& fn) {
  const int k = parts(n, grain);
  if (tInLoop || k < 2) {
    fn(0, n);
    return;
  }
  if (!tPool) tPool = std::make_unique<WorkerPool>(threads());
  InLoopFlag flag;
  tPool->run(n, k, fn);
}

}  // namespace le::pool
