#include "pool/split.h"

#include <gtest/gtest.h>

#include <ostream>
#include <tuple>
#include <vector>

namespace le::pool {
namespace {

struct PartCase {
  size_t n;
  size_t grain;
  int budget;
  int expected;
};

void PrintTo(const PartCase& c, std::ostream* os) {
  *os << "parts(" << c.n << ", " << c.grain << ") with budget " << c.budget;
}

class PartCountTest : public ::testing::TestWithParam<PartCase> {};

TEST_P(PartCountTest, SplitsByGrainUpToTheBudget) {
  const PartCase& c = GetParam();
  EXPECT_EQ(partCount(c.n, c.grain, c.budget), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, PartCountTest,
                         ::testing::Values(PartCase{1080, 8, 4, 4}, PartCase{10, 8, 4, 1},
                                           PartCase{16, 8, 4, 2}, PartCase{100, 0, 4, 4},
                                           PartCase{0, 1, 4, 1}, PartCase{1, 1, 4, 1},
                                           PartCase{3, 1, 4, 3}, PartCase{1080, 8, 1, 1},
                                           PartCase{1080, 8, 0, 1}));

std::vector<std::pair<size_t, size_t>> ranges(size_t n, int k) {
  std::vector<std::pair<size_t, size_t>> out;
  for (int j = 0; j < k; ++j) {
    const Range r = partRange(n, k, j);
    out.emplace_back(r.begin, r.end);
  }
  return out;
}

TEST(PartRange, EqualChunksWithAShorterLast) {
  using R = std::vector<std::pair<size_t, size_t>>;
  EXPECT_EQ(ranges(10, 4), (R{{0, 3}, {3, 6}, {6, 9}, {9, 10}}));
  EXPECT_EQ(ranges(1080, 4), (R{{0, 270}, {270, 540}, {540, 810}, {810, 1080}}));
}

TEST(PartRange, TrailingPartsMayBeEmpty) {
  using R = std::vector<std::pair<size_t, size_t>>;
  EXPECT_EQ(ranges(5, 4), (R{{0, 2}, {2, 4}, {4, 5}, {5, 5}}));
  EXPECT_EQ(ranges(4, 3), (R{{0, 2}, {2, 4}, {4, 4}}));
}

}  // namespace
}  // namespace le::pool
