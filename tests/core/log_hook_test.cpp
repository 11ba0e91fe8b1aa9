// The logging hook as a host installs it through the C header: every line the library emits
// reaches the host's callback, unchanged and without a newline, and nothing reaches standard error.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "le/le.h"

namespace {

std::string fixture(const std::string& name) { return std::string(LE_TEST_FIXTURES) + "/" + name; }

// Collects lines from any library thread.
struct LineSink {
  std::mutex mutex;
  std::vector<std::string> lines;  // guarded by mutex

  static void receive(const char* line, void* user) {
    auto* sink = static_cast<LineSink*>(user);
    std::lock_guard<std::mutex> lock(sink->mutex);
    sink->lines.emplace_back(line);
  }
  bool has(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mutex);
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  }
  size_t count(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mutex);
    return size_t(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }
  bool anyEndsInNewline() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return !l.empty() && l.back() == '\n'; });
  }
};

// Installs a sink for the test's lifetime and captures standard error meanwhile.
class LogHook : public testing::Test {
 protected:
  void SetUp() override {
    testing::internal::CaptureStderr();
    le_log_set(&LineSink::receive, &sink);
  }
  // Restores the default sink and returns what reached standard error while the hook was set.
  std::string uninstall() {
    le_log_set(nullptr, nullptr);
    return testing::internal::GetCapturedStderr();
  }
  void TearDown() override {
    if (!uninstalled) uninstall();
  }
  LineSink sink;
  bool uninstalled = false;
};

}  // namespace

TEST_F(LogHook, ReceivesTheLinesOfASessionOpenAndNothingReachesStandardError) {
  le_ctx* ctx = le_create(fixture("test").c_str(), "b1", 0, nullptr);
  ASSERT_NE(ctx, nullptr) << le_last_error();
  std::vector<uint8_t> rgba(size_t(le_width(ctx)) * size_t(le_height(ctx)) * 4);
  EXPECT_EQ(le_render_drive_rgba(ctx, 0, rgba.data(), rgba.size()), 1) << le_last_error();
  le_destroy(ctx);
  uninstalled = true;
  EXPECT_EQ(uninstall(), "");

  EXPECT_TRUE(sink.has("[le-driver] target_frames/ (raw jpg, 12 frames)"));
  EXPECT_TRUE(sink.has("[le] director intra-op "));
  EXPECT_TRUE(sink.has("[le] director ep="));
  EXPECT_FALSE(sink.anyEndsInNewline());
}

TEST_F(LogHook, ReceivesTheLineOfARefusedExecutionProvider) {
  // This build has no CoreML provider: the director refuses it, says so and serves from the CPU.
  le_ctx* ctx = le_create(fixture("test").c_str(), "b1", 1, "coreml");
  ASSERT_NE(ctx, nullptr) << le_last_error();
  EXPECT_NE(le_render_drive_crop(ctx, 0), nullptr) << le_last_error();
  le_destroy(ctx);
  uninstalled = true;
  EXPECT_EQ(uninstall(), "");
  EXPECT_TRUE(sink.has("[le] CoreML EP session refused: "));
}

TEST_F(LogHook, ClearingTheHookRestoresStandardError) {
  le_log_set(nullptr, nullptr);
  le_ctx* ctx = le_create(fixture("test").c_str(), "b1", 0, nullptr);
  ASSERT_NE(ctx, nullptr) << le_last_error();
  le_destroy(ctx);
  uninstalled = true;
  const std::string err = uninstall();
  EXPECT_NE(err.find("[le-driver] target_frames/ (raw jpg, 12 frames)"), std::string::npos) << err;
  EXPECT_TRUE(sink.lines.empty());
}

// FFmpeg writes a line in pieces, from whichever thread decodes; each line reaches the hook whole.
TEST_F(LogHook, FfmpegMessagesArriveAsWholeTaggedLines) {
  const int savedLevel = av_log_get_level();
  av_log_set_level(AV_LOG_INFO);
  av_log(nullptr, AV_LOG_ERROR, "bad %s ", "packet");
  av_log(nullptr, AV_LOG_ERROR, "at %d\n", 7);
  av_log(nullptr, AV_LOG_INFO, "stream 0 is video\n");
  av_log(nullptr, AV_LOG_DEBUG, "below the level\n");
  std::vector<std::thread> decoders;
  for (const char* name : {"left", "right"})
    decoders.emplace_back([name] {
      for (int i = 0; i < 200; ++i) {
        av_log(nullptr, AV_LOG_WARNING, "%s ", name);
        av_log(nullptr, AV_LOG_WARNING, "frame %d\n", i);
      }
    });
  for (std::thread& t : decoders) t.join();
  av_log_set_level(savedLevel);
  uninstalled = true;
  EXPECT_EQ(uninstall(), "");

  EXPECT_TRUE(sink.has("[ffmpeg] WARNING bad packet at 7"));
  EXPECT_TRUE(sink.has("[ffmpeg] stream 0 is video"));
  EXPECT_FALSE(sink.has("[ffmpeg] below"));
  EXPECT_EQ(sink.count("[ffmpeg] WARNING left frame "), 200u);
  EXPECT_EQ(sink.count("[ffmpeg] WARNING right frame "), 200u);
  EXPECT_FALSE(sink.anyEndsInNewline());
}

TEST_F(LogHook, ClearingTheHookReturnsFfmpegToStandardError) {
  le_log_set(nullptr, nullptr);
  av_log(nullptr, AV_LOG_ERROR, "straight to standard error\n");
  uninstalled = true;
  EXPECT_NE(uninstall().find("straight to standard error"), std::string::npos);
  EXPECT_TRUE(sink.lines.empty());
}
