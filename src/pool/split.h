// The deterministic split of a parallel loop, as pure functions of the loop and the budget.
#pragma once

#include <algorithm>
#include <cstddef>

namespace le::pool {

// Parts of a loop over n items, at least grain items each, under a budget of threads.
inline int partCount(size_t n, size_t grain, int budget) {
  if (budget <= 1) return 1;
  const size_t q = n / std::max<size_t>(grain, 1);
  if (q <= 1) return 1;
  return static_cast<int>(std::min<size_t>(q, static_cast<size_t>(budget)));
}

struct Range {
  size_t begin;
  size_t end;
};

// Part j of k over n items: ranges of ceil(n / k) items, the last one shorter; trailing parts
// may be empty (begin == end).
inline Range partRange(size_t n, int k, int j) {
  const size_t chunk = (n + static_cast<size_t>(k) - 1) / static_cast<size_t>(k);
  const size_t begin = std::min(n, chunk * static_cast<size_t>(j));
  return {begin, std::min(n, begin + chunk)};
}

}  // namespace le::pool
