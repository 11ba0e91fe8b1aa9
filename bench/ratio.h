// Runs a benchmark binary and prints one "RATIO <name> <peer/ours>" line per comparison: the
// peer's time per iteration divided by ours for the same work, so above 1 means we are faster.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace le::bench {

struct Comparison {
  std::string name;
  std::string peer;  // benchmark name of the peer run
  std::string ours;  // benchmark name of our run
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
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

}  // namespace le::bench
