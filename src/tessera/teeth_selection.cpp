#include "tessera/teeth_selection.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace le::tessera {

namespace {

bool contains(const std::vector<int32_t>& list, int32_t donor) {
  return std::find(list.begin(), list.end(), donor) != list.end();
}

// Appends the members of `from` that `exclude` lacks, in order.
void appendMissing(std::vector<int32_t>& out, const std::vector<int32_t>& from, const std::vector<int32_t>& exclude) {
  for (int32_t donor : from)
    if (!contains(exclude, donor)) out.push_back(donor);
}

}  // namespace

std::vector<int32_t> retrieveSelect(const std::vector<int32_t>& shortlist, const std::vector<float>& exact,
                                    const std::vector<double>& aperture, const ServeConfig& config) {
  std::vector<size_t> order(shortlist.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return exact[a] < exact[b]; });
  std::vector<int32_t> kept;
  if (order.empty()) return kept;
  const int32_t best = shortlist[order[0]];
  const double a0 = aperture[size_t(best)];
  const double tolerance = std::max(a0, 1e-6) * config.aperture_tol;
  const size_t walk = std::min(order.size(), size_t(std::max(config.cut, 0)));
  for (size_t i = 0; i < walk && kept.size() < size_t(config.K); ++i) {
    const int32_t donor = shortlist[order[i]];
    if (std::fabs(aperture[size_t(donor)] - a0) <= tolerance) kept.push_back(donor);
  }
  if (kept.empty()) kept.push_back(best);
  while (kept.size() < size_t(config.K)) kept.push_back(kept.back());
  return kept;
}

std::vector<int32_t> donorSet(const std::vector<int32_t>& current, const std::vector<int32_t>& ahead,
                              const std::vector<int32_t>* sticky, int32_t k) {
  std::vector<int32_t> extra;
  appendMissing(extra, current, ahead);
  std::vector<int32_t> set;
  if (!sticky || sticky->empty()) {
    set = ahead;
    set.insert(set.end(), extra.begin(), extra.end());
  } else {
    set = *sticky;
    appendMissing(set, ahead, *sticky);
    appendMissing(set, extra, *sticky);
  }
  if (set.size() > size_t(std::max(k, 0))) set.resize(size_t(std::max(k, 0)));
  return set;
}

std::vector<int32_t> stickyByWeight(const std::vector<int32_t>& set, const std::vector<double>& totals,
                                    int32_t keep) {
  std::vector<size_t> order(set.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return totals[a] > totals[b]; });
  order.resize(std::min(order.size(), size_t(std::max(keep, 0))));
  std::vector<int32_t> sticky;
  for (size_t i : order) sticky.push_back(set[i]);
  return sticky;
}

}  // namespace le::tessera
