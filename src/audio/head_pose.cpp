#include "audio/head_pose.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/motion_layout.h"

namespace le::audio {

using namespace motion;

namespace {
constexpr float kPi = 3.1415927f;
constexpr float kBinDegrees = 3.0f;
constexpr float kBinOffset = 97.5f;

// x = scale * (c R + expression) + (tx, ty, 0) for the 21 keypoints.
void place(const float* info, const float r[9], const float* expression, float* out) {
  const float scale = info[kInfoScale];
  const float tx = info[kInfoTranslation], ty = info[kInfoTranslation + 1];
  for (size_t k = 0; k < kKpFloats / 3; ++k) {
    const float* c = info + kInfoCanonical + 3 * k;
    for (size_t j = 0; j < 3; ++j) {
      const float rotated = c[0] * r[j] + c[1] * r[3 + j] + c[2] * r[6 + j];
      out[3 * k + j] = scale * (rotated + expression[3 * k + j]) + (j == 0 ? tx : j == 1 ? ty : 0.0f);
    }
  }
}
}  // namespace

float bin66(const float* logits) {
  const float peak = *std::max_element(logits, logits + kPoseBins);
  double sum = 0.0, weighted = 0.0;
  for (size_t i = 0; i < kPoseBins; ++i) {
    const double e = std::exp(double(logits[i] - peak));
    sum += e;
    weighted += e * double(i);
  }
  return float(kBinDegrees * weighted / sum - kBinOffset);
}

void rotation(float pitch, float yaw, float roll, float out[9]) {
  const float p = pitch * kPi / 180.0f, y = yaw * kPi / 180.0f, r = roll * kPi / 180.0f;
  const float sp = std::sin(p), cp = std::cos(p), sy = std::sin(y), cy = std::cos(y), sr = std::sin(r),
              cr = std::cos(r);
  const float m[9] = {cy * cr,
                      cy * sr,
                      -sy,
                      sp * sy * cr - cp * sr,
                      cp * cr + sp * sy * sr,
                      sp * cy,
                      sp * sr + cp * sy * cr,
                      cp * sy * sr - sp * cr,
                      cp * cy};
  std::memcpy(out, m, sizeof m);
}

void poseKeypoints(const float* info, const float* drivingExpression, float deltaPitch, float xs[63], float xd[63]) {
  const float pitch = bin66(info + kInfoPitch), yaw = bin66(info + kInfoYaw), roll = bin66(info + kInfoRoll);
  float rs[9], rd[9];
  rotation(pitch, yaw, roll, rs);
  rotation(pitch + deltaPitch, yaw, roll, rd);
  place(info, rs, info + kInfoExpression, xs);
  place(info, rd, drivingExpression, xd);
}

void motionFromInfo(const float* info, float* motion) {
  motion[0] = info[kInfoScale] - 1.0f;
  std::memcpy(motion + kMvPitch, info + kInfoPitch, kPoseBins * sizeof(float));
  std::memcpy(motion + kMvYaw, info + kInfoYaw, kPoseBins * sizeof(float));
  std::memcpy(motion + kMvRoll, info + kInfoRoll, kPoseBins * sizeof(float));
  std::memcpy(motion + kMvTranslation, info + kInfoTranslation, 3 * sizeof(float));
  std::memcpy(motion + kMvExpression, info + kInfoExpression, kKpFloats * sizeof(float));
}

}  // namespace le::audio
