// Readiness, the target-row walk, the positional wrap and the attention band of the live path.
#include "audio/a2x_schedule.h"
#include "audio/target_walk.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace le::a2x {
namespace {

TEST(A2xReadiness, BlockCountsFromItsLastFrameOnward) {
  // Look-ahead 0 and lag 3: a block of 8 gives 8 - 3 frames once 4481 of its samples are in.
  EXPECT_EQ(readyFrames(4480, false, 0, 3), 0);
  EXPECT_EQ(readyFrames(4481, false, 0, 3), 5);
  for (int64_t n = 4481; n <= 9600; ++n) ASSERT_EQ(readyFrames(n, false, 0, 3), 5) << n;
  EXPECT_EQ(readyFrames(9601, false, 0, 3), 13);
}

TEST(A2xReadiness, LookAheadAndLagBothWaitForAudio) {
  // The encoder's look-ahead reads features that the frontend can only make lag frames later.
  EXPECT_EQ(readyFrames(4481, false, 2, 3), 3);
  EXPECT_EQ(readyFrames(4481, false, 6, 3), 0);
  EXPECT_EQ(readyFrames(4481 + 5120, false, 6, 3), 7);
}

TEST(A2xReadiness, AfterFinishEveryFrameIsReady) {
  EXPECT_EQ(readyFrames(641, true, 30, 20), 2);
  EXPECT_EQ(readyFrames(640, true, 30, 20), 1);
  EXPECT_EQ(readyFrames(0, true, 30, 20), 0);
  EXPECT_EQ(totalFrames(641), 2);
}

TEST(A2xReadiness, SettledAudioStopsAtTheLastCountedFramesFirstSample) {
  EXPECT_EQ(settledSamples(4480), 0);
  EXPECT_EQ(settledSamples(4481), 4481);
  EXPECT_EQ(settledSamples(5120), 4481);
  EXPECT_EQ(settledSamples(9601), 9601);
  EXPECT_EQ(countedFrames(9601), 16);
}

struct WalkCase {
  int nt;
  struct {
    int start, direction, loop;
  } walk;
  std::vector<int> rows;
};

class A2xRowWalk : public testing::TestWithParam<WalkCase> {};

TEST_P(A2xRowWalk, FramesTakeTheseRows) {
  const WalkCase& c = GetParam();
  le::audio::TargetWalk walk;
  walk.restart(c.walk.start, c.walk.direction, c.walk.loop, 0, c.nt);
  std::vector<int> got;
  for (size_t t = 0; t < c.rows.size(); ++t) got.push_back(walk.row(int64_t(t), c.nt));
  EXPECT_EQ(got, c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    Walks, A2xRowWalk,
    testing::Values(WalkCase{4, {0, 1, false}, {0, 1, 2, 3, 2, 1, 0, 1}},
                    WalkCase{4, {0, 1, true}, {0, 1, 2, 3, 0, 1, 2, 3}},
                    WalkCase{4, {0, -1, true}, {0, 3, 2, 1}},
                    WalkCase{4, {0, -1, false}, {0, 1, 2, 3, 2, 1, 0}},
                    WalkCase{4, {2, -1, false}, {2, 1, 0, 1, 2, 3, 2}},
                    WalkCase{1, {0, 1, false}, {0, 0, 0}},
                    WalkCase{2, {1, 1, false}, {1, 0, 1, 0}}));

TEST(A2xPositional, BeyondTheTableTheSecondHalfRepeats) {
  // P = 5: rows 0..4, then 2, 3, 4, 2, 3, 4, ...
  std::vector<int64_t> got;
  for (int64_t f = 0; f < 11; ++f) got.push_back(positionalRow(f, 5));
  EXPECT_EQ(got, (std::vector<int64_t>{0, 1, 2, 3, 4, 2, 3, 4, 2, 3, 4}));
  EXPECT_EQ(positionalRow(10, 4), 2 + (10 - 4) % 2);
}

TEST(A2xMask, KeysInsideTheBandAreOpen) {
  const int64_t l = 6, left = 2, window = 1;
  std::vector<float> mask(size_t(l * l));
  bandMask(l, left, window, mask.data());
  for (int64_t i = 0; i < l; ++i)
    for (int64_t j = 0; j < l; ++j) {
      const float m = mask[size_t(i * l + j)];
      if (j >= i - left && j <= i + window)
        EXPECT_EQ(m, 0.0f) << i << "," << j;
      else
        EXPECT_TRUE(std::isinf(m) && m < 0) << i << "," << j;
    }
}

}  // namespace
}  // namespace le::a2x

namespace le::a2x {
namespace {

TEST(A2xReadinessGrid, StepsFollowTheValuesReadinessTakes) {
  // Look-ahead 2, lag 20: ready is 8k - 22, so the grid is 2, 10, 18, ...
  EXPECT_EQ(gridAtOrAbove(0, 2, 20), 2);
  EXPECT_EQ(gridAtOrAbove(2, 2, 20), 2);
  EXPECT_EQ(gridAtOrAbove(3, 2, 20), 10);
  EXPECT_EQ(gridAbove(2, 2, 20), 10);
  EXPECT_EQ(gridAbove(0, 2, 20), 2);
  for (int64_t n = 0; n < 200000; n += 333) {
    const int64_t r = readyFrames(n, false, 2, 20);
    if (r > 0) ASSERT_EQ(gridAtOrAbove(r, 2, 20), r) << n;
  }
}

}  // namespace
}  // namespace le::a2x
