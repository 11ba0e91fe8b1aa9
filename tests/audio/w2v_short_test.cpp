// The short window's mapping of frames onto trunk steps.
#include "audio/w2v_short.h"

#include <gtest/gtest.h>

namespace le::w2v {
namespace {

TEST(W2vShortWindow, FramesMapToTheLongWindowTheyWouldComeFrom) {
  EXPECT_EQ(longWindowOf(0), 0);
  EXPECT_EQ(longWindowOf(199), 0);
  EXPECT_EQ(longWindowOf(200), 100);
  EXPECT_EQ(longWindowOf(250), 100);
  EXPECT_EQ(longWindowOf(299), 100);
  EXPECT_EQ(longWindowOf(300), 200);
}

TEST(W2vShortWindow, Frame250SitsAtPosition150OfTheWindowFrom100) {
  // Trunk window starting at the 8 s window's start: offset 0, then 150 * 1598 / 199 steps.
  EXPECT_DOUBLE_EQ(trunkPosition(250, 100 * 640), 150.0 * 1598.0 / 199.0);
  // A trunk window starting 80 samples later moves every frame one step back.
  EXPECT_DOUBLE_EQ(trunkPosition(250, 100 * 640 + 80), 150.0 * 1598.0 / 199.0 - 1.0);
}

TEST(W2vShortWindow, BlockFramesLandInsideTheTrunkWindowWithTheDefaultRightContext) {
  // Block s, right context 12: the window ends at (s + 20) * 640 and has 400 trunk steps.
  for (int64_t s = 0; s < 2000; s += 8) {
    const int64_t start = (s + 8 + 12) * 640 - 32000;
    for (int64_t k = s; k < s + 8; ++k) {
      const double p = trunkPosition(k, start);
      ASSERT_GE(p, 0.0) << k;
      ASSERT_LT(p, 400.0) << k;
    }
  }
}

}  // namespace
}  // namespace le::w2v
