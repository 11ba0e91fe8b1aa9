// The motion follows the speech: the mouth opens with the loudness of each frame and silence keeps
// the target pose.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "audio/a2x_host.h"
#include "support/scoped_env.h"

namespace le::test {
namespace {

// Lower-lip inner edge (row 12) minus upper-lip inner edge (row 6), in y.
float mouthOpening(const float* kp) { return kp[12 * 3 + 1] - kp[6 * 3 + 1]; }

float correlation(const std::vector<double>& a, const std::vector<double>& b) {
  double ma = 0, mb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    ma += a[i];
    mb += b[i];
  }
  ma /= double(a.size());
  mb /= double(b.size());
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) * (a[i] - ma);
    bb += (b[i] - mb) * (b[i] - mb);
  }
  return float(ab / std::sqrt(aa * bb));
}

class A2xLips : public testing::TestWithParam<const char*> {};

TEST_P(A2xLips, MouthOpeningFollowsTheLoudness) {
  ScopedEnv w2v("W2V_ONNX", encoderOf(GetParam()).c_str());
  const std::vector<float> speech = utterance("long");
  A2xPtr a = openA2x(fixture("test"));
  ASSERT_TRUE(a);
  const Pulled p = runLive(a.get(), speech, 640);
  ASSERT_EQ(p.frames(), (speech.size() + 639) / 640);
  std::vector<double> opening, rms;
  for (size_t t = 0; t < p.frames(); ++t) {
    opening.push_back(mouthOpening(&p.kp[t * 63]) - mouthOpening(&p.target[t * 63]));
    double sq = 0;
    size_t n = 0;
    for (size_t i = t * 640; i < std::min(speech.size(), (t + 1) * 640); ++i, ++n) sq += double(speech[i]) * speech[i];
    rms.push_back(std::sqrt(sq / double(n)));
  }
  const float r = correlation(opening, rms);
  std::printf("%s: correlation of mouth opening with frame RMS %.3f over %zu frames\n", GetParam(), r, p.frames());
  EXPECT_GT(r, 0.5f);
}

INSTANTIATE_TEST_SUITE_P(Frontends, A2xLips, testing::Values("speech", "speech-legacy"),
                         [](const testing::TestParamInfo<const char*>& info) { return paramName(info.param); });

TEST(A2xLips, SilenceKeepsTheTargetPose) {
  ScopedEnv w2v("W2V_ONNX", encoderOf("speech").c_str());
  A2xPtr a = openA2x(fixture("test"));
  ASSERT_TRUE(a);
  const std::vector<float> silence(16000 * 3, 0.0f);
  const Pulled p = runLive(a.get(), silence, 1600);
  ASSERT_EQ(p.frames(), 75u);
  EXPECT_LT(maxAbsDiff(p.kp, p.target), 1e-4f);
}

}  // namespace
}  // namespace le::test
