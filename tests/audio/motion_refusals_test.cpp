// What le_motion_create refuses, and the exports' bad-argument texts, through the public header.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "le/le.h"
#include "motion_fixture.h"
#include "support/log_capture.h"

namespace le::test {
namespace {

struct Refusal {
  const char* name;
  const char* fixture;  // nullptr: a NULL directory
  const char* ep;
  std::string error;  // "$DIR" stands for the fixture's path
};

class MotionRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(MotionRefusal, CreateReturnsNullWithTheReason) {
  const Refusal& r = GetParam();
  const std::string dir = r.fixture ? motionDir(r.fixture) : "";
  le_motion* m = le_motion_create(r.fixture ? dir.c_str() : nullptr, 1, r.ep);
  EXPECT_EQ(m, nullptr);
  std::string expected = r.error;
  if (const size_t at = expected.find("$DIR"); at != std::string::npos) expected.replace(at, 4, dir);
  EXPECT_EQ(le_motion_last_error(), expected);
  le_motion_destroy(m);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MotionRefusal,
    ::testing::Values(
        Refusal{"null_dir", nullptr, "", "le_motion_create: NULL motion_dir"},
        Refusal{"n_src_differs", "motion-test-nsrc", "", "le_motion_create: le_motion: n_src != nt unsupported"},
        Refusal{"wrong_size", "motion-test-wrong-size", "",
                "le_motion_create: $DIR/v_min_max.bin: 529 floats, expected 530"},
        Refusal{"missing_file", "motion-test-missing-file", "", "le_motion_create: cannot open $DIR/ch_eye_ball.bin"},
        Refusal{"table_is_a_directory", "motion-test-short-read", "",
                "le_motion_create: $DIR/hubert_fstd.bin is a directory, not a regular file"},
        Refusal{"missing_key", "motion-test-no-key", "", "le_motion_create: meta.json: missing s_bridge"},
        Refusal{"key_without_colon", "motion-test-bad-key", "", "le_motion_create: meta.json: bad s_bridge"},
        Refusal{"ep_cpu", "motion-test", "cpu", "le_motion_create: le_motion: unknown ep 'cpu'"},
        Refusal{"ep_xnnpack", "motion-test", "xnnpack", "le_motion_create: le_motion: unknown ep 'xnnpack'"},
        Refusal{"no_directory", "no-such-motion-dir", "", "le_motion_create: cannot open $DIR/meta.json"}),
    [](const auto& info) { return std::string(info.param.name); });

class MotionEp : public ::testing::TestWithParam<const char*> {};

TEST_P(MotionEp, EmptyNullAndCoreMlRequestsRunOnTheCpu) {
  LogCapture log;
  MotionHandle h(motionDir("motion-test"), 1, GetParam());
  ASSERT_NE(h.m, nullptr) << le_motion_last_error();
  EXPECT_EQ(le_motion_nt(h.m), 12);
  EXPECT_TRUE(log.saw("ep=cpu")) << "the networks run on the CPU provider";
  const bool coreml = GetParam() && std::string(GetParam()).rfind("coreml", 0) == 0;
  EXPECT_EQ(log.saw("[le_motion] CoreML EP unavailable"), coreml);
}

INSTANTIATE_TEST_SUITE_P(Requests, MotionEp, ::testing::Values("", nullptr, "coreml", "coreml_ane"));

TEST(MotionArgs, BadArgumentsNameTheExport) {
  MotionHandle h(motionDir("motion-test"));
  ASSERT_NE(h.m, nullptr) << le_motion_last_error();
  const float samples[4] = {};
  float target[63], kp[63];
  int32_t row;
  struct Case {
    int result;
    const char* error;
  };
  const Case cases[] = {
      {le_motion_push(nullptr, samples, 4), "le_motion_push: bad args / already finished"},
      {le_motion_push(h.m, nullptr, 4), "le_motion_push: bad args / already finished"},
      {le_motion_push(h.m, samples, -1), "le_motion_push: bad args / already finished"},
      {le_motion_pull(nullptr, &row, target, kp, 1), "le_motion_pull: bad args"},
      {le_motion_pull(h.m, &row, nullptr, kp, 1), "le_motion_pull: bad args"},
      {le_motion_pull(h.m, &row, target, nullptr, 1), "le_motion_pull: bad args"},
      {le_motion_pull(h.m, &row, target, kp, 0), "le_motion_pull: bad args"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, 0) << c.error;
  // Each call replaced the text of the one before; check each again in turn.
  EXPECT_EQ(le_motion_push(h.m, samples, -1), 0);
  EXPECT_STREQ(le_motion_last_error(), "le_motion_push: bad args / already finished");
  EXPECT_EQ(le_motion_pull(h.m, &row, target, kp, 0), 0);
  EXPECT_STREQ(le_motion_last_error(), "le_motion_pull: bad args");
  EXPECT_EQ(le_motion_push(h.m, samples, 0), 1);
  EXPECT_STREQ(le_motion_last_error(), "");
  EXPECT_EQ(le_motion_pull(h.m, nullptr, target, kp, 1), 0);  // rows may be NULL; nothing ready
  EXPECT_STREQ(le_motion_last_error(), "");
}

TEST(MotionArgs, PushAfterFinishIsRefusedAndTotalCountsThePartialFrame) {
  MotionHandle h(motionDir("motion-test"));
  ASSERT_NE(h.m, nullptr) << le_motion_last_error();
  const std::vector<float> samples(641, 0.0f);
  EXPECT_EQ(le_motion_push(h.m, samples.data(), 641), 1);
  EXPECT_EQ(le_motion_total(h.m), -1);
  le_motion_finish(h.m);
  EXPECT_EQ(le_motion_total(h.m), 2);
  EXPECT_EQ(le_motion_push(h.m, samples.data(), 1), 0);
  EXPECT_STREQ(le_motion_last_error(), "le_motion_push: bad args / already finished");
  EXPECT_EQ(le_motion_avail(h.m), 2);
}

TEST(MotionArgs, NullHandlesAreHarmless) {
  le_motion_destroy(nullptr);
  le_motion_finish(nullptr);
  le_motion_reset(nullptr, 0, 1, 1);
  le_motion_set_eager(nullptr, 1);
  EXPECT_EQ(le_motion_avail(nullptr), 0);
  EXPECT_EQ(le_motion_total(nullptr), 0);
  EXPECT_EQ(le_motion_nt(nullptr), 0);
}

}  // namespace
}  // namespace le::test
