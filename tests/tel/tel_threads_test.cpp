// The store under threads of the host: recording, snapshots and a delivery at the same time.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "le/le_tel.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "tel/python_json.h"
#include "tel/test_collector.h"

namespace le::test {
namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 2000;
constexpr int kSnapshotEvery = 40;

// One host thread: records a number and a text of its own every round and keeps a pending JSON
// now and then.
std::vector<std::string> recordAndSnapshot(int thread) {
  const std::string number = "thread" + std::to_string(thread) + "_round";
  const std::string text = "thread" + std::to_string(thread) + "_text";
  std::vector<std::string> snapshots;
  for (int round = 0; round < kRounds; ++round) {
    le_tel_record(number.c_str(), round);
    le_tel_record_str(text.c_str(), ("round " + std::to_string(round)).c_str());
    if (round % kSnapshotEvery == 0) snapshots.emplace_back(le_tel_pending_json());
  }
  return snapshots;
}

TEST(TelThreads, FourThreadsRecordAndSnapshotAtOnce) {
  std::vector<std::future<std::vector<std::string>>> threads;
  for (int t = 0; t < kThreads; ++t) threads.push_back(std::async(std::launch::async, recordAndSnapshot, t));
  TempDir dir;
  {
    std::ofstream out(dir / "pending.jsonl", std::ios::binary);
    for (auto& thread : threads) {
      for (const std::string& snapshot : thread.get()) out << snapshot << '\n';
    }
  }
  const JsonCheck check = checkJsonLines(dir / "pending.jsonl");
  EXPECT_EQ(check.out, std::to_string(kThreads * kRounds / kSnapshotEvery) + " valid\n");
  const std::string last = le_tel_pending_json();
  for (int t = 0; t < kThreads; ++t) {
    const std::string name = "\"thread" + std::to_string(t);
    EXPECT_NE(last.find(name + "_round\":" + std::to_string(kRounds - 1)), std::string::npos) << last;
    EXPECT_NE(last.find(name + "_text\":\"round " + std::to_string(kRounds - 1) + "\""), std::string::npos) << last;
  }
}

// While a delivery waits for its answer, another thread records and reads the pending state; the
// snapshot it saw queued is cleared with the delivered batch.
TEST(TelThreads, RecordingGoesOnDuringASlowDelivery) {
  TestCollector collector(200, /*holdAnswers=*/true);
  ScopedEnv url("LE_TEL_URL", collector.baseUrl().c_str());
  std::future<int> flushed = std::async(std::launch::async, le_tel_flush);
  ASSERT_TRUE(collector.waitForRequests(1, std::chrono::seconds(10)));
  le_tel_record("during_delivery", 1);
  const std::string during = le_tel_pending_json();
  collector.release();
  EXPECT_EQ(flushed.get(), 0);
  EXPECT_NE(during.find("\"during_delivery\":1"), std::string::npos) << during;
  EXPECT_EQ(during.rfind("{\"queued\":0,", 0), std::string::npos) << during;
  EXPECT_EQ(std::string(le_tel_pending_json()).rfind("{\"queued\":0,", 0), 0u);
}

}  // namespace
}  // namespace le::test
