#include "pool/pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "pool/split.h"

namespace le::pool {
namespace {

struct Call {
  size_t begin;
  size_t end;
  std::thread::id thread;
  bool operator<(const Call& o) const { return begin < o.begin; }
};

// Every call parallelRange makes, in order of begin.
std::vector<Call> recordCalls(size_t n, size_t grain) {
  std::mutex mutex;
  std::vector<Call> calls;
  parallelRange(n, grain, [&](size_t b, size_t e) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back({b, e, std::this_thread::get_id()});
  });
  std::sort(calls.begin(), calls.end());
  return calls;
}

class SplitTest : public ::testing::TestWithParam<std::tuple<size_t, size_t>> {};

TEST_P(SplitTest, RunsTheDeterministicPartsWithPartZeroOnTheCaller) {
  const auto [n, grain] = GetParam();
  const std::vector<Call> calls = recordCalls(n, grain);
  const int k = parts(n, grain);
  ASSERT_GE(k, 1);
  ASSERT_LE(k, threads());
  if (k == 1) {
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].begin, 0u);
    EXPECT_EQ(calls[0].end, n);
    EXPECT_EQ(calls[0].thread, std::this_thread::get_id());
    return;
  }
  std::vector<Call> expected;
  for (int j = 0; j < k; ++j) {
    const Range r = partRange(n, k, j);
    if (r.begin < r.end) expected.push_back({r.begin, r.end, {}});
  }
  ASSERT_EQ(calls.size(), expected.size());
  for (size_t j = 0; j < calls.size(); ++j) {
    EXPECT_EQ(calls[j].begin, expected[j].begin);
    EXPECT_EQ(calls[j].end, expected[j].end);
    EXPECT_EQ(calls[j].thread == std::this_thread::get_id(), j == 0) << "part " << j;
  }
}

INSTANTIATE_TEST_SUITE_P(Loops, SplitTest,
                         ::testing::Values(std::make_tuple(0, 1), std::make_tuple(1, 1),
                                           std::make_tuple(5, 1), std::make_tuple(10, 1),
                                           std::make_tuple(10, 8), std::make_tuple(16, 8),
                                           std::make_tuple(100, 0), std::make_tuple(1080, 8),
                                           std::make_tuple(1000003, 7)));

TEST(ParallelRange, NestedCallOnTheCallerRunsWholeRangeThere) {
  std::vector<Call> inner;
  parallelRange(64, 1, [&](size_t begin, size_t) {
    if (begin != 0) return;
    parallelRange(100, 1, [&](size_t b, size_t e) {
      inner.push_back({b, e, std::this_thread::get_id()});
    });
  });
  ASSERT_EQ(inner.size(), 1u);
  EXPECT_EQ(inner[0].begin, 0u);
  EXPECT_EQ(inner[0].end, 100u);
  EXPECT_EQ(inner[0].thread, std::this_thread::get_id());
}

TEST(ParallelRange, NestedCallOnAWorkerCoversItsRange) {
  std::atomic<size_t> covered{0};
  parallelRange(64, 1, [&](size_t, size_t) {
    parallelRange(100, 1, [&](size_t b, size_t e) { covered += e - b; });
  });
  EXPECT_EQ(covered.load(), 100u * static_cast<size_t>(parts(64, 1)));
}

// Threads of this process, as the kernel lists them.
size_t processThreads() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
}

// Sets the process budget for one test and restores the environment's default after it.
struct ScopedBudget {
  explicit ScopedBudget(int n) { setThreads(n); }
  ~ScopedBudget() { setThreads(0); }
};

TEST(ParallelRange, NestedCallOnAWorkerRunsThereWithoutNewThreads) {
  ScopedBudget budget(64);
  if (threads() < 2) GTEST_SKIP() << "needs two hardware threads";
  recordCalls(64, 1);  // the caller's own workers exist from here on
  const size_t before = processThreads();

  std::mutex mutex;
  std::vector<Call> outer, inner;
  parallelRange(64, 1, [&](size_t b, size_t e) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      outer.push_back({b, e, std::this_thread::get_id()});
    }
    parallelRange(100, 1, [&](size_t ib, size_t ie) {
      std::lock_guard<std::mutex> lock(mutex);
      inner.push_back({ib, ie, std::this_thread::get_id()});
    });
  });
  EXPECT_EQ(processThreads(), before) << "a worker built a pool of its own";
  ASSERT_EQ(inner.size(), outer.size());
  std::sort(outer.begin(), outer.end(), [](const Call& a, const Call& b) { return a.thread < b.thread; });
  std::sort(inner.begin(), inner.end(), [](const Call& a, const Call& b) { return a.thread < b.thread; });
  for (size_t j = 0; j < inner.size(); ++j) {
    EXPECT_EQ(inner[j].begin, 0u);
    EXPECT_EQ(inner[j].end, 100u);
    EXPECT_EQ(inner[j].thread, outer[j].thread);
  }
}

TEST(Budget, SetThreadsCapsAtTheHardwareAndZeroRestoresTheDefault) {
  const int dflt = threads();
  const unsigned hw = std::thread::hardware_concurrency();
  const int most = hw > 0 ? static_cast<int>(hw) : 100000;
  {
    ScopedBudget budget(100000);
    EXPECT_EQ(threads(), most);
    EXPECT_EQ(setThreads(4000), most);
    EXPECT_EQ(setThreads(1), 1);
    EXPECT_EQ(threads(), 1);
    EXPECT_EQ(parts(1080, 8), 1);
    EXPECT_EQ(recordCalls(1080, 8).size(), 1u);
  }
  EXPECT_EQ(threads(), dflt);
  EXPECT_EQ(setThreads(-5), dflt);
}

TEST(Budget, APoolBuiltForASmallerBudgetGrowsAtTheNextLoop) {
  ScopedBudget budget(64);
  const int most = threads();
  if (most < 3) GTEST_SKIP() << "needs three hardware threads";
  std::thread caller([&] {
    setThreads(2);
    EXPECT_EQ(recordCalls(64, 1).size(), 2u);
    setThreads(most);
    const std::vector<Call> calls = recordCalls(64, 1);
    ASSERT_EQ(calls.size(), static_cast<size_t>(most));
    EXPECT_EQ(calls.back().end, 64u);
    for (size_t j = 1; j < calls.size(); ++j) EXPECT_NE(calls[j].thread, calls[j - 1].thread) << "part " << j;
  });
  caller.join();
}

class ThrowingPartTest : public ::testing::TestWithParam<int> {};

// A part that throws must not end the process nor leave workers running the job after the call
// returns: the exception surfaces on the caller once every other part has finished.
TEST_P(ThrowingPartTest, RethrowsAfterEveryOtherPartFinished) {
  const size_t n = 64;
  const int k = parts(n, 1);
  const int thrower = GetParam();
  if (thrower >= k) GTEST_SKIP() << "the budget gives only " << k << " parts";
  std::vector<std::atomic<int>> done(n);
  try {
    parallelRange(n, 1, [&](size_t b, size_t e) {
      for (size_t i = b; i < e; ++i) done[i] = 1;
      if (partRange(n, k, thrower).begin == b) throw std::runtime_error("part failed");
    });
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "part failed");
  }
  for (size_t i = 0; i < n; ++i) EXPECT_EQ(done[i].load(), 1) << i;

  // The loop flag is cleared: the next loop is split again instead of running serially.
  EXPECT_EQ(recordCalls(n, 1).size(), static_cast<size_t>(k));
}

INSTANTIATE_TEST_SUITE_P(Parts, ThrowingPartTest, ::testing::Values(0, 1, 3),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "Part" + std::to_string(info.param) + "Throws";
                         });

TEST(ParallelRange, LowestFailingPartWins) {
  const size_t n = 64;
  const int k = parts(n, 1);
  if (k < 2) GTEST_SKIP() << "needs a budget of 2 or more";
  try {
    parallelRange(n, 1, [&](size_t b, size_t) {
      throw std::runtime_error("part " + std::to_string(b == 0 ? 0 : 1));
    });
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "part 0");
  }
}

TEST(ParallelRange, ThousandBackToBackLoops) {
  std::vector<int> values(1000);
  for (int loop = 0; loop < 1000; ++loop) {
    parallelRange(values.size(), 1, [&](size_t b, size_t e) {
      for (size_t i = b; i < e; ++i) values[i] += 1;
    });
  }
  EXPECT_TRUE(std::all_of(values.begin(), values.end(), [](int v) { return v == 1000; }));
}

TEST(ParallelRange, LoopsFromSeveralThreadsAtOnce) {
  constexpr int kThreads = 4;
  constexpr int kLoops = 200;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> callers;
  for (int t = 0; t < kThreads; ++t) {
    callers.emplace_back([&, t] {
      std::vector<size_t> out(257);
      for (int loop = 0; loop < kLoops; ++loop) {
        parallelRange(out.size(), 16, [&](size_t b, size_t e) {
          for (size_t i = b; i < e; ++i) out[i] = i * loop + t;
        });
        for (size_t i = 0; i < out.size(); ++i) failures[t] += out[i] != i * loop + t;
      }
    });
  }
  for (std::thread& c : callers) c.join();
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
}

TEST(Pool, BudgetIsPositiveAndAvailable) {
  EXPECT_GE(threads(), 1);
  EXPECT_TRUE(available());
}

}  // namespace
}  // namespace le::pool
