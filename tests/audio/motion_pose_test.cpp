// Head pose of info records: bin66, the rotation matrix, keypoint placement, the lip-only
// expression and the motion vector of an info record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "audio/frame_emitter.h"
#include "audio/head_pose.h"
#include "audio/motion_layout.h"

namespace le::audio {
namespace {

using namespace motion;

TEST(Bin66, EqualLogitsGiveZeroDegrees) {
  for (float level : {0.0f, 1.0f, -50.0f, 80.0f}) {
    const std::vector<float> logits(kPoseBins, level);
    EXPECT_NEAR(bin66(logits.data()), 0.0f, 1e-4f) << level;
  }
}

TEST(Bin66, ADominantBinGivesItsAngle) {
  for (int bin : {0, 10, 32, 33, 65}) {
    std::vector<float> logits(kPoseBins, 0.0f);
    logits[size_t(bin)] = 60.0f;  // softmax all but one-hot, and no overflow
    EXPECT_NEAR(bin66(logits.data()), 3.0f * float(bin) - 97.5f, 1e-3f) << bin;
  }
}

struct RotationCase {
  float pitch, yaw, roll;
  float expected[9];
};

class Rotation : public ::testing::TestWithParam<RotationCase> {};

TEST_P(Rotation, MatchesTheWrittenMatrix) {
  const RotationCase& c = GetParam();
  float r[9];
  rotation(c.pitch, c.yaw, c.roll, r);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(r[i], c.expected[i], 1e-6f) << "entry " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, Rotation,
    ::testing::Values(RotationCase{0, 0, 0, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
                      RotationCase{0, 90, 0, {0, 0, -1, 0, 1, 0, 1, 0, 0}},
                      RotationCase{90, 0, 0, {1, 0, 0, 0, 0, 1, 0, -1, 0}},
                      RotationCase{0, 0, 90, {0, 1, 0, -1, 0, 0, 0, 0, 1}}));

TEST(Rotation, IsOrthonormalForAnyAngles) {
  const float angles[][3] = {{10, -20, 30}, {-97.5f, 97.5f, 45}, {5, 5, 5}};
  for (const auto& a : angles) {
    float r[9];
    rotation(a[0], a[1], a[2], r);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        const float dot = r[3 * i] * r[3 * j] + r[3 * i + 1] * r[3 * j + 1] + r[3 * i + 2] * r[3 * j + 2];
        EXPECT_NEAR(dot, i == j ? 1.0f : 0.0f, 1e-6f);
      }
  }
}

// An info record with level pose logits (0 degrees), scale 2, translation (0.1, -0.2, 5).
std::vector<float> levelRecord() {
  std::vector<float> info(kInfoFloats, 0.0f);
  for (size_t i = 0; i < kKpFloats; ++i) {
    info[kInfoExpression + i] = 0.01f * float(i);
    info[kInfoCanonical + i] = 0.1f * float(i % 7) - 0.3f;
  }
  info[kInfoScale] = 2.0f;
  info[kInfoTranslation] = 0.1f;
  info[kInfoTranslation + 1] = -0.2f;
  info[kInfoTranslation + 2] = 5.0f;
  return info;
}

TEST(PoseKeypoints, LevelPoseScalesAndShiftsCanonicalPlusExpression) {
  const std::vector<float> info = levelRecord();
  std::vector<float> driving(kKpFloats, 0.0f), xs(kKpFloats), xd(kKpFloats);
  poseKeypoints(info.data(), driving.data(), 0.0f, xs.data(), xd.data());
  for (size_t i = 0; i < kKpFloats; ++i) {
    const float shift = i % 3 == 0 ? 0.1f : i % 3 == 1 ? -0.2f : 0.0f;  // z gets no translation
    EXPECT_NEAR(xs[i], 2.0f * (info[kInfoCanonical + i] + info[kInfoExpression + i]) + shift, 1e-5f) << i;
    EXPECT_NEAR(xd[i], 2.0f * info[kInfoCanonical + i] + shift, 1e-5f) << i;
  }
}

TEST(PoseKeypoints, DeltaPitchTurnsOnlyTheDrivingPose) {
  const std::vector<float> info = levelRecord();
  std::vector<float> xs0(kKpFloats), xd0(kKpFloats), xs(kKpFloats), xd(kKpFloats);
  poseKeypoints(info.data(), info.data() + kInfoExpression, 0.0f, xs0.data(), xd0.data());
  poseKeypoints(info.data(), info.data() + kInfoExpression, 90.0f, xs.data(), xd.data());
  EXPECT_EQ(xs, xs0);
  EXPECT_EQ(xd0, xs0);
  // Pitch 90: (x, y, z) R = (x, -z, y) before scale and shift.
  for (size_t k = 0; k < 21; ++k) {
    const float* c = info.data() + kInfoCanonical + 3 * k;
    const float* e = info.data() + kInfoExpression + 3 * k;
    EXPECT_NEAR(xd[3 * k + 1], 2.0f * (-c[2] + e[1]) - 0.2f, 1e-5f) << k;
    EXPECT_NEAR(xd[3 * k + 2], 2.0f * (c[1] + e[2]), 1e-5f) << k;
  }
}

TEST(DrivingExpression, OnlyTheEighteenLipCoordinatesFollowTheMotion) {
  std::vector<float> source(kKpFloats), motionExpr(kKpFloats), reference(kKpFloats), out(kKpFloats);
  std::iota(source.begin(), source.end(), 0.0f);
  for (size_t i = 0; i < kKpFloats; ++i) {
    motionExpr[i] = 1.0f + float(i);
    reference[i] = 0.5f;
  }
  drivingExpression(source.data(), motionExpr.data(), reference.data(), 2.0f, out.data());
  int changed = 0;
  for (size_t i = 0; i < kKpFloats; ++i) {
    const bool lip = std::find(std::begin(kLipKeypoints), std::end(kLipKeypoints), int(i / 3)) != std::end(kLipKeypoints);
    EXPECT_FLOAT_EQ(out[i], lip ? (motionExpr[i] - 0.5f) * 2.0f + source[i] : source[i]) << i;
    changed += out[i] != source[i];
  }
  EXPECT_EQ(changed, 18);
}

TEST(MotionFromInfo, PlacesEveryFieldOfTheRecord) {
  std::vector<float> info(kInfoFloats), mv(kMotionDim, -1.0f);
  std::iota(info.begin(), info.end(), 0.0f);
  motionFromInfo(info.data(), mv.data());
  EXPECT_EQ(mv[0], info[kInfoScale] - 1.0f);
  for (size_t i = 0; i < kPoseBins; ++i) {
    EXPECT_EQ(mv[kMvPitch + i], info[kInfoPitch + i]);
    EXPECT_EQ(mv[kMvYaw + i], info[kInfoYaw + i]);
    EXPECT_EQ(mv[kMvRoll + i], info[kInfoRoll + i]);
  }
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(mv[kMvTranslation + i], info[kInfoTranslation + i]);
  for (size_t i = 0; i < kKpFloats; ++i) EXPECT_EQ(mv[kMvExpression + i], info[kInfoExpression + i]);
}

}  // namespace
}  // namespace le::audio
