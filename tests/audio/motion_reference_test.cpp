// The motion generator against the baker's numpy reference (float64) on espeak-ng sentences: the
// log-mel frontend, the encoder features, the conditioning rows, the first chunk, the timeline
// before and after the final averaging, and every emitted frame.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/fft.h"
#include "audio/log_mel.h"
#include "audio/motion_dir.h"
#include "audio/motion_layout.h"
#include "audio/speech_frontend.h"
#include "motion_fixture.h"

namespace le::test {
namespace {

using namespace le::audio::motion;

// Every value within atol + rtol * |reference|; reports the worst one.
void expectClose(const std::vector<float>& ours, const std::vector<float>& ref, double atol, double rtol,
                 const std::string& what) {
  ASSERT_EQ(ours.size(), ref.size()) << what;
  double worst = 0;
  size_t at = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    const double excess = std::fabs(double(ours[i]) - ref[i]) - (atol + rtol * std::fabs(double(ref[i])));
    if (i == 0 || excess > worst) worst = excess, at = i;
  }
  EXPECT_LE(worst, 0.0) << what << ": value " << at << " is " << ours[at] << ", reference " << ref[at];
}

// Log-mel blocks (windows x [80][21]) to float rounding: a float32 FFT rounds every bin relative to
// the whole frame, so each band may differ from the float64 reference by a small fraction of its
// frame's loudest band, however quiet the band itself is.
void expectMelClose(const std::vector<float>& ours, const std::vector<float>& ref, const std::string& what) {
  ASSERT_EQ(ours.size(), ref.size()) << what;
  for (size_t block = 0; block < ref.size(); block += kMelFloats)
    for (size_t f = 0; f < kMelFrames; ++f) {
      double loudest = 0;
      for (size_t b = 0; b < kMelBands; ++b) loudest = std::max(loudest, std::exp(double(ref[block + b * kMelFrames + f])));
      for (size_t b = 0; b < kMelBands; ++b) {
        const size_t i = block + b * kMelFrames + f;
        const double linear = std::fabs(std::exp(double(ours[i])) - std::exp(double(ref[i])));
        ASSERT_LE(linear, 2e-6 * loudest + 1e-12) << what << ": window " << block / kMelFloats << " band " << b
                                                  << " frame " << f << ": " << ours[i] << " vs " << ref[i];
        ASSERT_NEAR(ours[i], ref[i], 5e-3) << what;
      }
    }
}

std::vector<float> slice(const std::vector<float>& v, size_t from, size_t n) {
  return std::vector<float>(v.begin() + std::ptrdiff_t(from), v.begin() + std::ptrdiff_t(from + n));
}

struct Case {
  const char* name;   // motion-ref case
  const char* dir;    // motion directory
  const char* audio;  // sentence
};

const Case kCases[] = {{"fox", "motion-test", "fox"},
                       {"counting", "motion-test", "counting"},
                       {"story", "motion-test", "story"},
                       {"fox-delta-pitch", "motion-test-delta-pitch", "fox"}};

class MotionReference : public ::testing::TestWithParam<Case> {
 protected:
  // Runs the case with every debug dump on, pulling while streaming.
  void SetUp() override {
    dump_ = std::filesystem::temp_directory_path() /
            ("le_motion_ref_" + std::string(GetParam().name) + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dump_);
    ::setenv("LE_MOTION_DUMP", dump_.c_str(), 1);
    MotionHandle h(motionDir(GetParam().dir));
    ::unsetenv("LE_MOTION_DUMP");
    ASSERT_NE(h.m, nullptr) << le_motion_last_error();
    frames_ = runUtterance(h.m, sentence(GetParam().audio), 3200, true);
    total_ = size_t(le_motion_total(h.m));
  }
  void TearDown() override { std::filesystem::remove_all(dump_); }

  std::vector<float> dumped(const char* name) { return readRaw<float>((dump_ / name).string()); }
  std::vector<float> ref(const char* file) { return readRaw<float>(motionRef(GetParam().name, file)); }

  std::filesystem::path dump_;
  MotionFrames frames_;
  size_t total_ = 0;
};

TEST_P(MotionReference, FrontendAndEncoderMatchTheFirstWindow) {
  expectMelClose(dumped("mel0.bin"), slice(ref("mel.f32"), 0, kMelFloats), "mel0");
  expectClose(dumped("feat0.bin"), slice(ref("feat.f32"), 0, kFeatRows * kFeatDim), 1e-4, 1e-5, "feat0");
}

TEST_P(MotionReference, ConditioningRowsAndFirstChunkMatch) {
  expectClose(dumped("cond.bin"), ref("cond.f32"), 1e-4, 1e-5, "cond");
  expectClose(dumped("lmdm0_kp.bin"), ref("lmdm0_kp.f32"), 0, 0, "lmdm0_kp");
  expectClose(dumped("lmdm0_aud.bin"), ref("lmdm0_aud.f32"), 1e-4, 1e-5, "lmdm0_aud");
  expectClose(dumped("lmdm0_pred.bin"), ref("lmdm0_pred.f32"), 1e-4, 1e-5, "lmdm0_pred");
}

TEST_P(MotionReference, TimelineAfterFinishMatches) {
  EXPECT_EQ(total_ * kMotionDim, ref("final.f32").size());
  expectClose(dumped("res_post.bin"), ref("res_post.f32"), 1e-4, 1e-5, "timeline before the final averaging");
  expectClose(dumped("final.bin"), ref("final.f32"), 1e-4, 1e-5, "final timeline");
}

TEST_P(MotionReference, EveryEmittedFrameMatches) {
  ASSERT_EQ(frames_.count(), total_);
  EXPECT_EQ(frames_.rows, readRaw<int32_t>(motionRef(GetParam().name, "rows.i32")));
  expectClose(dumped("xsla.bin"), ref("xs.f32"), 1e-5, 1e-5, "xs");
  expectClose(dumped("xdla.bin"), ref("xd.f32"), 1e-5, 1e-5, "xd");
  expectClose(frames_.target, ref("target.f32"), 0, 0, "target");
  expectClose(frames_.keypoints, ref("keypoints.f32"), 1e-5, 1e-5, "keypoints");
  EXPECT_EQ(dumped("xs.bin"), frames_.target);
  EXPECT_EQ(dumped("xd.bin"), frames_.keypoints);
}

// The inner-lip opening (row 12 y - row 6 y) over the target's, per frame.
std::vector<float> lipGap(const MotionFrames& f) {
  std::vector<float> gap(f.count());
  for (size_t t = 0; t < f.count(); ++t) {
    const float* kp = f.keypoints.data() + t * 63;
    const float* tg = f.target.data() + t * 63;
    gap[t] = (kp[12 * 3 + 1] - kp[6 * 3 + 1]) - (tg[12 * 3 + 1] - tg[6 * 3 + 1]);
  }
  return gap;
}

TEST_P(MotionReference, MouthOpensWithSpeechAndStaysClosedInSilence) {
  const std::vector<float> cond = ref("cond.f32");
  const std::vector<float> gap = lipGap(frames_);
  float closedMax = -1, closedMin = 1, speechMin = 1;
  size_t closed = 0, speech = 0;
  for (size_t t = 0; t < gap.size(); ++t) {
    const float energy = cond[t * kCondDim];  // speech energy: feature 0 of the conditioning row
    if (energy < -15) closedMax = std::max(closedMax, gap[t]), closedMin = std::min(closedMin, gap[t]), ++closed;
    if (energy > -3) speechMin = std::min(speechMin, gap[t]), ++speech;
  }
  ASSERT_GT(closed, 5u);
  ASSERT_GT(speech, 5u);
  EXPECT_LT(std::max(std::fabs(closedMax), std::fabs(closedMin)), 1e-3f) << "silent frames keep the mouth closed";
  EXPECT_GT(speechMin - closedMax, 0.02f) << "every loud frame opens the mouth";
}

INSTANTIATE_TEST_SUITE_P(Sentences, MotionReference, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

// Every window of a sentence, through the library's FFT and log-mel, against numpy's rfft
// magnitudes and log-mel blocks.
TEST(MotionFrontendReference, EveryWindowsFftAndMelMatchNumpy) {
  const le::audio::MotionTables tables = le::audio::loadMotionTables(motionDir("motion-test"));
  const std::vector<float> audio = sentence("story");
  const std::vector<float> mags = readRaw<float>(motionRef("story", "mag.f32"));
  const std::vector<float> mels = readRaw<float>(motionRef("story", "mel.f32"));
  const size_t windows = mels.size() / kMelFloats;
  ASSERT_GT(windows, 60u);
  ASSERT_EQ(mags.size(), windows * kMelFrames * kFftBins);
  const le::audio::Fft fft(kFftSize);
  const le::audio::LogMel logMel(tables.stftWindow, tables.melMatrix);
  std::vector<float> span(static_cast<size_t>(kSpanSamples)), padded(kPaddedSamples), frame(kFftSize), re(kFftSize),
      im(kFftSize), mel(kMelFloats), mag;
  std::vector<float> allMel, allMag;
  for (size_t w = 0; w < windows; ++w) {
    le::audio::windowSpan(audio.data(), audio.size(), int64_t(w * kWindowFrames), span.data());
    le::audio::reflectPad(span.data(), padded.data());
    for (size_t f = 0; f < kMelFrames; ++f) {
      for (size_t i = 0; i < kFftSize; ++i) frame[i] = padded[f * kHop + i] * tables.stftWindow[i];
      fft.forward(frame.data(), re.data(), im.data());
      for (size_t k = 0; k < kFftBins; ++k) allMag.push_back(std::sqrt(re[k] * re[k] + im[k] * im[k]));
    }
    logMel.compute(span.data(), mel.data());
    allMel.insert(allMel.end(), mel.begin(), mel.end());
  }
  expectClose(allMag, mags, 2e-5, 2e-5, "FFT magnitudes");
  expectMelClose(allMel, mels, "log-mel blocks");
}

}  // namespace
}  // namespace le::test
