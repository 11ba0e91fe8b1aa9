// Two le_a2x objects on two threads over the process's shared speech-encoder sessions: each gets
// the frames it gets alone. (This folder's label matches the ThreadSanitizer run's filter.)
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "audio/a2x_host.h"
#include "support/scoped_env.h"

namespace le::test {
namespace {

class A2xThreads : public testing::TestWithParam<const char*> {};

TEST_P(A2xThreads, TwoObjectsShareTheEncoderSessions) {
  ScopedEnv w2v("W2V_ONNX", encoderOf(GetParam()).c_str());
  const std::vector<float> fox = utterance("fox");
  const std::vector<float> hello = utterance("hello");
  Pulled aloneFox, aloneHello;
  {
    A2xPtr a = openA2x(fixture("test"));
    ASSERT_TRUE(a);
    aloneFox = runLive(a.get(), fox, 800);
    le_a2x_reset(a.get(), 0, 1, 1);
    aloneHello = runLive(a.get(), hello, 800);
  }
  Pulled gotFox, gotHello;
  std::string errFox, errHello;
  auto worker = [](const std::vector<float>* speech, Pulled* out, std::string* err) {
    A2xPtr a(le_a2x_create(fixture("test").c_str(), 1));
    if (!a) {
      *err = le_a2x_last_error();
      return;
    }
    for (int round = 0; round < 3; ++round) {
      le_a2x_reset(a.get(), 0, 1, 1);
      *out = runLive(a.get(), *speech, 800);
    }
    *err = le_a2x_last_error();
  };
  std::thread one(worker, &fox, &gotFox, &errFox);
  std::thread two(worker, &hello, &gotHello, &errHello);
  one.join();
  two.join();
  EXPECT_EQ(errFox, "");
  EXPECT_EQ(errHello, "");
  ASSERT_EQ(gotFox.kp.size(), aloneFox.kp.size());
  ASSERT_EQ(gotHello.kp.size(), aloneHello.kp.size());
  EXPECT_EQ(0, std::memcmp(gotFox.kp.data(), aloneFox.kp.data(), gotFox.kp.size() * sizeof(float)));
  EXPECT_EQ(0, std::memcmp(gotHello.kp.data(), aloneHello.kp.data(), gotHello.kp.size() * sizeof(float)));
}

INSTANTIATE_TEST_SUITE_P(Frontends, A2xThreads, testing::Values("speech", "speech-legacy"),
                         [](const testing::TestParamInfo<const char*>& info) { return paramName(info.param); });

}  // namespace
}  // namespace le::test
