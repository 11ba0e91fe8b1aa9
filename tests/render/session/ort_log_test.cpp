// ONNX Runtime's own diagnostics reach the host's log hook like every other line of the library.
#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>

#include <string>

#include "core/ort_log.h"
#include "le/le.h"
#include "render/support/test_models.h"

namespace le::test {
namespace {

class LogCapture {
 public:
  LogCapture() { le_log_set(&LogCapture::take, this); }
  ~LogCapture() { le_log_set(nullptr, nullptr); }
  std::string text;

 private:
  static void take(const char* line, void* self) { static_cast<LogCapture*>(self)->text += std::string(line) + "\n"; }
};

TEST(OrtLog, RuntimeWarningsReachTheHostsHook) {
  LogCapture capture;
  Ort::Env env(ORT_LOGGING_LEVEL_WARNING, "le", le::ortLog, nullptr);
  const GsBytes& model = testModel("unused_initializer");
  Ort::SessionOptions options;
  Ort::Session session(env, model.data(), model.size(), options);
  EXPECT_NE(capture.text.find("[onnxruntime warning]"), std::string::npos) << capture.text;
  EXPECT_NE(capture.text.find("never_read"), std::string::npos) << capture.text;
}

}  // namespace
}  // namespace le::test
