// Window normalisation against a reference written from its definition.
#include "audio/w2v_normalise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace le::w2v {
namespace {

std::vector<float> reference(std::vector<float> x) {
  long double sum = 0;
  for (float v : x) sum += v;
  const double mean = double(sum / x.size());
  long double sq = 0;
  for (float v : x) sq += (v - mean) * (v - mean);
  const float stddev = std::sqrt(float(double(sq / x.size())) + 1e-7f);
  for (float& v : x) v = float((v - mean) * (1.0 / double(stddev)));
  return x;
}

TEST(W2vNormalise, MatchesTheDefinitionOnSpeechLikeAudioWithZeroPadding) {
  std::vector<float> x(32000, 0.0f);
  for (size_t i = 0; i < 20000; ++i) x[i] = 0.3f * std::sin(0.01f * float(i)) * std::sin(0.0007f * float(i)) + 0.01f;
  const std::vector<float> want = reference(x);
  normaliseWindow(x.data(), x.size());
  for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(x[i], want[i]) << i;
}

TEST(W2vNormalise, SilenceStaysZero) {
  std::vector<float> x(128000, 0.0f);
  normaliseWindow(x.data(), x.size());
  for (float v : x) ASSERT_EQ(v, 0.0f);
}

}  // namespace
}  // namespace le::w2v
