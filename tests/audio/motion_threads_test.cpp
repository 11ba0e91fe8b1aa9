// Two motion objects on two threads at once give what each gives alone.
#include <gtest/gtest.h>

#include <thread>

#include "motion_fixture.h"

namespace le::test {
namespace {

MotionFrames run(const char* name, int eager) {
  MotionHandle h(motionDir("motion-test"));
  EXPECT_NE(h.m, nullptr) << le_motion_last_error();
  le_motion_set_eager(h.m, eager);
  return runUtterance(h.m, sentence(name), 2560, true);
}

TEST(MotionThreads, TwoObjectsOnTwoThreadsMatchTheirSingleRuns) {
  const MotionFrames foxAlone = run("fox", 0), countingAlone = run("counting", -1);
  MotionFrames fox, counting;
  std::thread a([&] { fox = run("fox", 0); });
  std::thread b([&] { counting = run("counting", -1); });
  a.join();
  b.join();
  EXPECT_EQ(fox.keypoints, foxAlone.keypoints);
  EXPECT_EQ(fox.rows, foxAlone.rows);
  EXPECT_EQ(counting.count(), countingAlone.count());
  EXPECT_EQ(counting.target, countingAlone.target);
}

}  // namespace
}  // namespace le::test
