// When the motion generator speculates, and how far speculative frames reach.
#include <gtest/gtest.h>

#include "audio/eager_controller.h"

namespace le::audio {
namespace {

struct ThresholdCase {
  int value;
  double stepMs;  // < 0: no step measured
  int pulled;
  int expected;
};

class EagerThreshold : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(EagerThreshold, FollowsTheValueOrTheMeasuredStep) {
  const ThresholdCase& c = GetParam();
  EagerController e;
  e.setValue(c.value);
  if (c.stepMs >= 0) e.stepDone(1, c.stepMs);
  EXPECT_EQ(e.threshold(c.pulled), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, EagerThreshold,
                         ::testing::Values(ThresholdCase{3, -1, 0, 3}, ThresholdCase{3, 500, 9, 3},
                                           ThresholdCase{-1, 500, 0, 1},   // nothing pulled yet
                                           ThresholdCase{-1, 40, 5, 1}, ThresholdCase{-1, 41, 5, 2},
                                           ThresholdCase{-1, 100, 5, 3}, ThresholdCase{-1, 0, 5, 1},
                                           ThresholdCase{-1, 1000, 5, 8}));

TEST(EagerController, StepDurationIsAnExponentialAverageSeededByTheFirstStep) {
  EagerController e;
  e.setValue(-1);
  e.stepDone(1, 100);
  EXPECT_DOUBLE_EQ(e.stepMs(), 100);
  e.stepDone(2, 200);
  EXPECT_DOUBLE_EQ(e.stepMs(), 0.7 * 100 + 0.3 * 200);
  e.clear();
  EXPECT_DOUBLE_EQ(e.stepMs(), 130);  // a new utterance keeps the measurement
}

TEST(EagerController, DecisionTable) {
  EagerController e;
  EXPECT_FALSE(e.shouldStep(10, 0));  // off
  e.setValue(4);
  EXPECT_FALSE(e.shouldStep(0, 0));  // no audio
  EXPECT_TRUE(e.shouldStep(1, 0));   // positive value, nothing pulled: every new frame
  e.stepDone(1, 10);
  EXPECT_FALSE(e.shouldStep(1, 0));  // nothing new
  EXPECT_TRUE(e.shouldStep(2, 0));
  e.stepDone(2, 10);
  EXPECT_FALSE(e.shouldStep(5, 1));  // pulled: 3 new frames < 4
  EXPECT_TRUE(e.shouldStep(6, 1));
  e.markFresh();
  EXPECT_TRUE(e.shouldStep(2, 1));  // a committed chunk ran
  e.stepDone(2, 10);
  EXPECT_FALSE(e.shouldStep(2, 1));
}

TEST(EagerController, AvailabilityReachesTheHorizonBelowTheTimelineEnd) {
  EagerController e;
  e.setValue(1);
  EXPECT_EQ(e.available(80, 0), 0);  // no step yet
  e.stepDone(30, 1);
  EXPECT_EQ(e.horizon(), 29);
  EXPECT_EQ(e.available(80, 0), 29);
  EXPECT_EQ(e.available(80, 10), 19);
  EXPECT_EQ(e.available(20, 10), 9);
  EXPECT_EQ(e.available(20, 25), 0);
  e.stepDone(12, 1);  // the horizon never shrinks
  EXPECT_EQ(e.horizon(), 29);
}

}  // namespace
}  // namespace le::audio
