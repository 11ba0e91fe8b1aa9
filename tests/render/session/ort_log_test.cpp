// ONNX Runtime's own diagnostics reach the host's log hook like every other line of the library.
#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>

#include <string>

#include "core/ort_log.h"
#include "le/le.h"
#include "render/support/test_models.h"
#include "support/log_capture.h"

namespace le::test {
namespace {

TEST(OrtLog, RuntimeWarningsReachTheHostsHook) {
  LogCapture capture;
  Ort::Env env(ORT_LOGGING_LEVEL_WARNING, "le", le::ortLog, nullptr);
  const GsBytes& model = testModel("unused_initializer");
  Ort::SessionOptions options;
  Ort::Session session(env, model.data(), model.size(), options);
  EXPECT_TRUE(capture.saw("[onnxruntime warning]")) << capture.all();
  EXPECT_TRUE(capture.saw("never_read")) << capture.all();
}

}  // namespace
}  // namespace le::test
