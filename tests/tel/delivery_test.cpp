// Flushing to collection services that answer 200, answer 500, never answer, or do not exist.
// The cases share this process's store: each asserts only what holds whatever the others recorded
// or queued before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "le/le.h"
#include "le/le_tel.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "tel/python_json.h"
#include "tel/test_collector.h"

namespace le::test {
namespace {

using std::chrono::milliseconds;

constexpr int kMaxPending = LE_TEL_MAX_PENDING;

// The queue length the pending JSON reports.
int queued() {
  const std::string text = le_tel_pending_json();
  const std::string prefix = R"({"queued":)";
  EXPECT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
  return std::stoi(text.substr(prefix.size()));
}

// Collects the library's log lines while the object lives.
class LogLines {
 public:
  LogLines() { le_log_set(&LogLines::receive, this); }
  ~LogLines() { le_log_set(nullptr, nullptr); }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  static void receive(const char* line, void* user) {
    auto* self = static_cast<LogLines*>(user);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.emplace_back(line);
  }
  std::mutex mutex_;
  std::vector<std::string> lines_;  // guarded by mutex_
};

// The body of a request, judged by check_json.py: batch length and each snapshot's extra[key].
std::string batchSummary(const CollectedRequest& request, const std::string& key) {
  TempDir dir;
  writeFile(dir / "body.json", request.body);
  const JsonCheck check = checkBatch(dir / "body.json", key);
  EXPECT_EQ(check.status, 0) << check.out;
  return check.out;
}

TEST(TelDelivery, AnAnswer200TakesTheWholeQueueAsOneBatchAndEmptiesIt) {
  TestCollector collector(200);
  ScopedEnv url("LE_TEL_URL", (collector.baseUrl() + "//").c_str());
  const int before = queued();
  le_tel_record("delivery_probe", 7);
  EXPECT_EQ(le_tel_flush(), 0);
  ASSERT_EQ(collector.requests().size(), 1u);
  const CollectedRequest request = collector.requests()[0];
  EXPECT_EQ(request.requestLine, "POST /v1/telemetry/ingest HTTP/1.1");
  EXPECT_EQ(request.contentType, "application/json");
  // Snapshots queued by earlier failed flushes come first, without the probe.
  const int delivered = std::min(before + 1, kMaxPending);
  std::string probes;
  for (int i = 1; i < delivered; ++i) probes += "null, ";
  EXPECT_EQ(batchSummary(request, "delivery_probe"), "[" + std::to_string(delivered) + ", [" + probes + "7]]\n");
  EXPECT_EQ(queued(), 0);
}

TEST(TelDelivery, AnotherStatusReturnsMinus3AndKeepsTheQueue) {
  TestCollector collector(500);
  ScopedEnv url("LE_TEL_URL", collector.baseUrl().c_str());
  LogLines log;
  const int before = queued();
  EXPECT_EQ(le_tel_flush(), -3);
  EXPECT_EQ(collector.requests().size(), 1u);
  EXPECT_EQ(queued(), std::min(before + 1, kMaxPending));
  EXPECT_EQ(log.lines(), std::vector<std::string>{"[le] telemetry: " + collector.baseUrl() +
                                                  "/v1/telemetry/ingest answered HTTP 500; the batch stays queued"});
}

TEST(TelDelivery, AServiceThatNeverAnswersIsGivenUpWithinTheTimeout) {
  TestCollector collector(200, /*holdAnswers=*/true);
  ScopedEnv url("LE_TEL_URL", collector.baseUrl().c_str());
  LogLines log;
  const int before = queued();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(le_tel_flush(), -2);
  const auto took = std::chrono::steady_clock::now() - start;
  // Two seconds is the limit; the margin absorbs a loaded machine, not a missing timeout.
  EXPECT_LT(took, std::chrono::seconds(8));
  EXPECT_TRUE(collector.waitForRequests(1, milliseconds(0)));
  EXPECT_EQ(queued(), std::min(before + 1, kMaxPending));
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].rfind("[le] telemetry: POST " + collector.baseUrl() + "/v1/telemetry/ingest failed: ", 0), 0u)
      << log.lines()[0];
}

struct Unreachable {
  const char* name;
  std::string base;
  friend void PrintTo(const Unreachable& c, std::ostream* os) { *os << c.name; }
};

class TelUnreachable : public testing::TestWithParam<Unreachable> {};

TEST_P(TelUnreachable, DeliversNothingReturnsMinus2AndKeepsTheQueue) {
  ScopedEnv url("LE_TEL_URL", GetParam().base.c_str());
  LogLines log;
  const int before = queued();
  EXPECT_EQ(le_tel_flush(), -2);
  EXPECT_EQ(queued(), std::min(before + 1, kMaxPending));
  EXPECT_EQ(log.lines().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Targets, TelUnreachable, testing::Values(
    Unreachable{"NothingListens", refusingBaseUrl()},
    Unreachable{"NotHttp", "file:///tmp"},
    Unreachable{"NoHost", "http://"}),
  [](const auto& info) { return std::string(info.param.name); });

struct Setting {
  const char* name;
  const char* value;  // NULL: unset
  int result;
  friend void PrintTo(const Setting& c, std::ostream* os) { *os << c.name; }
};

class TelDeliverySetting : public testing::TestWithParam<Setting> {};

TEST_P(TelDeliverySetting, BuildsNothingAndLeavesTheQueueAlone) {
  ScopedEnv url("LE_TEL_URL", GetParam().value);
  LogLines log;
  const int before = queued();
  EXPECT_EQ(le_tel_flush(), GetParam().result);
  EXPECT_EQ(queued(), before);
  EXPECT_TRUE(log.lines().empty());
}

INSTANTIATE_TEST_SUITE_P(LeTelUrl, TelDeliverySetting, testing::Values(
    Setting{"UnsetIsNotAvailable", nullptr, -1},
    Setting{"EmptyIsSwitchedOff", "", 0},
    Setting{"OffIsSwitchedOff", "off", 0}),
  [](const auto& info) { return std::string(info.param.name); });

TEST(TelDelivery, ThreeHundredFailedFlushesKeepTheNewest256) {
  {
    ScopedEnv url("LE_TEL_URL", refusingBaseUrl().c_str());
    LogLines log;
    for (int i = 0; i < 300; ++i) {
      le_tel_record("flush_index", i);
      EXPECT_EQ(le_tel_flush(), -2);
    }
    EXPECT_EQ(queued(), kMaxPending);
    EXPECT_EQ(log.lines().size(), 300u);
  }
  TestCollector collector(200);
  ScopedEnv url("LE_TEL_URL", collector.baseUrl().c_str());
  le_tel_record("flush_index", 300);
  EXPECT_EQ(le_tel_flush(), 0);
  ASSERT_EQ(collector.requests().size(), 1u);
  // 300 queued and one more: the newest 256 are those of flushes 45 to 300, oldest first.
  std::string indices;
  for (int i = 45; i <= 300; ++i) indices += (i > 45 ? ", " : "") + std::to_string(i);
  EXPECT_EQ(batchSummary(collector.requests()[0], "flush_index"), "[256, [" + indices + "]]\n");
}

}  // namespace
}  // namespace le::test
