// The face-coefficient animator: frame counts and refusals through the C interface, the voiced-frame
// centring and the 7-frame windows, and a mouth that opens with voiced speech.
#include "le/le_fca.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "audio/a2x_host.h"
#include "audio/fca_features.h"

namespace le::test {
namespace {

using le::fca::kFeatureChannels;

struct FcaDeleter {
  void operator()(le_fca* f) const { le_fca_destroy(f); }
};
using FcaPtr = std::unique_ptr<le_fca, FcaDeleter>;

FcaPtr openFca() {
  FcaPtr f(le_fca_create(encoderOf("speech").c_str(), (fixture("test") + "/fca_stream.onnx").c_str(), 2));
  EXPECT_TRUE(f) << le_fca_last_error();
  return f;
}

// Features whose only non-zero channel 0 holds the given norms.
std::vector<float> featuresWithNorms(const std::vector<float>& norms) {
  std::vector<float> features(norms.size() * kFeatureChannels, 0.f);
  for (size_t k = 0; k < norms.size(); ++k) features[k * kFeatureChannels] = norms[k];
  return features;
}

TEST(Fca, FrameCountsAndRefusals) {
  FcaPtr f = openFca();
  ASSERT_TRUE(f);
  std::vector<float> samples(641, 0.1f), out(63 * 2, 7.f);
  EXPECT_EQ(le_fca_deltas(f.get(), samples.data(), 641, out.data(), 1), -1);
  EXPECT_EQ(std::string(le_fca_last_error()), "le_fca_deltas: deltas has room for 1 frames, the audio gives 2");
  EXPECT_EQ(out[0], 7.f);
  EXPECT_EQ(le_fca_deltas(f.get(), samples.data(), 641, out.data(), 2), 2) << le_fca_last_error();
  EXPECT_EQ(le_fca_deltas(f.get(), samples.data(), 640, out.data(), 1), 1);
  EXPECT_EQ(le_fca_deltas(f.get(), samples.data(), 0, out.data(), 0), 0);
  EXPECT_EQ(le_fca_deltas(nullptr, samples.data(), 640, out.data(), 1), -1);
  EXPECT_EQ(std::string(le_fca_last_error()), "le_fca_deltas: NULL object");
  EXPECT_EQ(le_fca_deltas(f.get(), nullptr, 640, out.data(), 1), -1);
}

TEST(Fca, CreateRefusesMissingModels) {
  EXPECT_EQ(le_fca_create(encoderOf("speech").c_str(), "/nonexistent/fca_stream.onnx", 1), nullptr);
  EXPECT_EQ(std::string(le_fca_last_error()).rfind("le_fca_create: ", 0), 0u);
  EXPECT_EQ(le_fca_create(nullptr, "x", 1), nullptr);
  EXPECT_EQ(std::string(le_fca_last_error()), "le_fca_create: NULL model path");
  le_fca_destroy(nullptr);
}

TEST(FcaFeatures, VoicedTestIsStrictlyAboveThePercentile) {
  // At frame 7 the sorted norms are 1 2 2 2 3 4 5 6: p = 1.4 lands between two 2s, so the 20th
  // percentile is exactly 2 and a norm of 2 is not voiced; a norm of 2.5 is.
  for (const float last : {2.f, 2.5f}) {
    const std::vector<float> features = featuresWithNorms({1, 2, 2, 3, 4, 5, 6, last});
    std::vector<float> centred(features.size());
    fca::centreVoiced(features.data(), 8, centred.data());
    const float expected = last == 2.f ? last - (1 + 2 + 2 + 3 + 4 + 5 + 6) * (1.f / 7.f)
                                       : last - (1 + 2 + 2 + 3 + 4 + 5 + 6 + last) * (1.f / 8.f);
    EXPECT_FLOAT_EQ(centred[7 * kFeatureChannels], expected) << last;
  }
}

TEST(FcaFeatures, SilentFramesAreNotCountedAndNothingDividesByZero) {
  const std::vector<float> features = featuresWithNorms({0, 0, 3, 0});
  std::vector<float> centred(features.size());
  fca::centreVoiced(features.data(), 4, centred.data());
  EXPECT_EQ(centred[0], 0.f);
  EXPECT_EQ(centred[2 * kFeatureChannels], 0.f);  // 3 minus the mean of the one voiced frame
  EXPECT_EQ(centred[3 * kFeatureChannels], -3.f);
}

TEST(FcaFeatures, WindowsRepeatTheEdgeRows) {
  constexpr int64_t frames = 4;
  std::vector<float> centred(frames * kFeatureChannels);
  for (int64_t k = 0; k < frames; ++k) centred[size_t(k) * kFeatureChannels] = float(k);
  std::vector<float> cond(fca::kCondFloats);
  auto rows = [&](int64_t k) {
    fca::windowRows(centred.data(), frames, k, cond.data());
    std::vector<float> firstChannel;
    for (int o = 0; o < fca::kWindowFrames; ++o) firstChannel.push_back(cond[size_t(o) * kFeatureChannels]);
    return firstChannel;
  };
  EXPECT_EQ(rows(0), (std::vector<float>{0, 0, 1, 2, 3, 3, 3}));
  EXPECT_EQ(rows(3), (std::vector<float>{2, 3, 3, 3, 3, 3, 3}));
  EXPECT_EQ(rows(1), (std::vector<float>{0, 1, 2, 3, 3, 3, 3}));
}

// Lower-lip inner edge (row 12) minus upper-lip inner edge (row 6), in y.
float mouthOpening(const float* delta) { return delta[12 * 3 + 1] - delta[6 * 3 + 1]; }

TEST(Fca, VoicedSpeechOpensTheMouthAndSilenceClosesIt) {
  FcaPtr f = openFca();
  ASSERT_TRUE(f);
  // The spoken utterance, then one second of silence. (Leading silence would count as voiced: the
  // first frames with any energy set the centre.)
  std::vector<float> audio = utterance("long");
  audio.insert(audio.end(), 16000, 0.f);
  const int frames = int((audio.size() + 639) / 640);
  std::vector<float> out(size_t(frames) * 63);
  ASSERT_EQ(le_fca_deltas(f.get(), audio.data(), int(audio.size()), out.data(), frames), frames) << le_fca_last_error();
  float silentMax = 0.f, spokenMax = 0.f;
  for (int k = 0; k < frames; ++k) {
    const float opening = mouthOpening(&out[size_t(k) * 63]);
    const bool silent = k >= frames - 20;
    (silent ? silentMax : spokenMax) = std::max(silent ? silentMax : spokenMax, opening);
  }
  EXPECT_GT(spokenMax, 0.f);
  EXPECT_LT(silentMax, 0.1f * spokenMax);
}

}  // namespace
}  // namespace le::test
