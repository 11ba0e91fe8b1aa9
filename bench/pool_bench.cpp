// Cost of one parallel loop with an empty body: the fork-join overhead every pooled pass pays.
#include <atomic>

#include "pool/pool.h"
#include "ratio.h"

namespace {

void BM_ParallelRangeEmpty(benchmark::State& state) {
  const size_t n = static_cast<size_t>(le::pool::threads()) * 64;
  const std::function<void(size_t, size_t)> body = [](size_t b, size_t e) {
    benchmark::DoNotOptimize(b + e);
  };
  for (auto _ : state) le::pool::parallelRange(n, 1, body);
  state.counters["parts"] = le::pool::parts(n, 1);
}
BENCHMARK(BM_ParallelRangeEmpty)->Name("pool/parallel_range_empty/ours")->Unit(benchmark::kNanosecond);

}  // namespace

int main(int argc, char** argv) { return le::bench::runWithRatios(argc, argv, {}); }
