// The target-row walk shared by the audio engines.
#include <gtest/gtest.h>

#include <vector>

#include "audio/target_walk.h"

namespace le::audio {
namespace {

struct WalkCase {
  int nt, start, direction, loop;
  std::vector<int> rows;  // rows of frames 0, 1, ...
};

class Walk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(Walk, VisitsTheRowsInOrder) {
  const WalkCase& c = GetParam();
  TargetWalk w;
  w.restart(c.start, c.direction, c.loop, 0, c.nt);
  for (size_t t = 0; t < c.rows.size(); ++t) EXPECT_EQ(w.row(int64_t(t), c.nt), c.rows[t]) << "frame " << t;
}

INSTANTIATE_TEST_SUITE_P(Cases, Walk,
                         ::testing::Values(WalkCase{4, 0, 1, 0, {0, 1, 2, 3, 2, 1, 0, 1}},
                                           WalkCase{4, 0, 1, 1, {0, 1, 2, 3, 0, 1, 2, 3}},
                                           WalkCase{4, 0, -1, 1, {0, 3, 2, 1}},
                                           WalkCase{4, 0, -1, 0, {0, 1, 2, 3, 2}},  // reflects at 0
                                           WalkCase{4, 2, 1, 0, {2, 3, 2, 1, 0, 1}},
                                           WalkCase{1, 0, 1, 0, {0, 0, 0}}, WalkCase{2, 1, 1, 0, {1, 0, 1, 0}}));

TEST(Walk, NegativeStartContinuesFromTheNextFramesRow) {
  TargetWalk w;
  w.restart(1, 1, 0, 0, 5);
  EXPECT_EQ(w.restart(-1, -1, 1, 6, 5), -1);  // frame 6 of 1, 2, 3, 4, 3, 2, 1 is row 1
  EXPECT_EQ(w.start(), 1);
  EXPECT_EQ(w.row(1, 5), 0);
  EXPECT_EQ(w.row(2, 5), 4);
  w.restart(-1, 1, 1, 3, 1);
  EXPECT_EQ(w.start(), 0);
}

}  // namespace
}  // namespace le::audio
