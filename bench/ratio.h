// Runs a benchmark binary and prints one "RATIO <name> <peer/ours>" line per comparison: the
// peer's time per iteration divided by ours for the same work, so above 1 means we are faster.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace le::bench {

// The table without colour: the reporters below are built by hand, so Google Benchmark's
// --benchmark_color does not reach them, and a colour code left at the end of the table would glue
// onto the first RATIO line.
constexpr benchmark::ConsoleReporter::OutputOptions kPlainTable = benchmark::ConsoleReporter::OO_Tabular;

struct Comparison {
  std::string name;
  std::string peer;  // benchmark name of the peer run
  std::string ours;  // benchmark name of our run
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(kPlainTable) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
        times_[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void printRatios(const std::vector<Comparison>& comparisons) const {
    for (const Comparison& c : comparisons) {
      const auto peer = times_.find(c.peer);
      const auto ours = times_.find(c.ours);
      if (peer == times_.end() || ours == times_.end() || ours->second <= 0) continue;
      std::printf("RATIO %s %.3f\n", c.name.c_str(), peer->second / ours->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

inline int runWithRatios(int argc, char** argv, const std::vector<Comparison>& comparisons) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios(comparisons);
  benchmark::Shutdown();
  return 0;
}

// For benchmarks run as interleaved repetitions: keeps the real time of every repetition per
// benchmark function (its name without run settings), so that load from other processes falls on
// ours and the peer alike and the ratio compares their medians.
class MedianRatioReporter : public benchmark::ConsoleReporter {
 public:
  MedianRatioReporter() : ConsoleReporter(kPlainTable) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        times_[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
  }

  void printRatios(const std::vector<Comparison>& comparisons) const {
    for (const Comparison& c : comparisons) {
      const double peer = median(c.peer), ours = median(c.ours);
      if (peer > 0 && ours > 0) std::printf("RATIO %s %.3f\n", c.name.c_str(), peer / ours);
    }
  }

 private:
  double median(const std::string& name) const {
    const auto it = times_.find(name);
    if (it == times_.end() || it->second.empty()) return 0;
    std::vector<double> v = it->second;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }

  std::map<std::string, std::vector<double>> times_;
};

// Runs the benchmarks with their repetitions interleaved in random order and prints the ratios of
// the medians; comparisons name benchmark functions (e.g. "pasteOurs/lanczos_pool").
inline int runWithMedianRatios(int argc, char** argv, const std::vector<Comparison>& comparisons) {
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int n = int(args.size());
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
  MedianRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios(comparisons);
  benchmark::Shutdown();
  return 0;
}

}  // namespace le::bench
