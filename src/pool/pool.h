// The library's one source of CPU parallelism: the process-wide thread budget and blocking
// fork-join loops over contiguous index ranges.
#pragma once

#include <cstddef>
#include <functional>

namespace le::pool {

// The thread budget (at least 1). Until setThreads() chooses one: LE_CORE_THREADS, else
// LE_PASTE_THREADS, else 4, capped at the hardware thread count, read once per process on first
// use (later environment changes have no effect).
int threads();

// Sets the process-wide budget to n capped at the hardware thread count, or back to the
// environment's default when n < 1, and returns the budget now in force. Loops started afterwards
// use it; a thread whose pool was built for another budget rebuilds it at its next loop.
int setThreads(int n);

// n capped at the hardware thread count (n itself when that count is unknown); at least 1.
int capAtHardware(long n);

// Always true: the pool needs nothing that could be missing.
bool available();

// How many parts a loop over n items with at least grain items per part is split into (>= 1).
int parts(size_t n, size_t grain);

// Runs fn(begin, end) over half-open ranges that exactly cover [0, n), possibly concurrently,
// and returns when all of them are done. Part 0 runs on the calling thread, part j on worker j
// of the calling thread's own pool. A call made from inside fn, on the calling thread or on a
// worker, runs its whole range serially on that thread: workers never build pools of their own.
// If fn throws, every other part still runs to completion and the exception of the
// lowest-numbered failing part is rethrown here.
void parallelRange(size_t n, size_t grain, const std::function<void(size_t, size_t)>& fn);

}  // namespace le::pool
