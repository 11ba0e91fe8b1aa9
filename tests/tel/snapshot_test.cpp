// Whole snapshots through the C header, each built in a store that holds only what the case
// recorded (fresh_store.h).
#include <gtest/gtest.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <cmath>
#include <ctime>
#include <functional>
#include <limits>
#include <regex>
#include <string>
#include <thread>

#include "le/le.h"
#include "le/le_tel.h"
#include "tel/fresh_store.h"

namespace le::test {
namespace {

// The version text of the library actually loaded, from its version number.
std::string loadedVersion() {
  const unsigned v = le_version();
  return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xff) + "." + std::to_string(v & 0xff);
}

// The members from "os" to "sdk_version", from the system's own answers.
std::string machineMembers(const std::string& deviceModel) {
  struct utsname names {};
  struct sysinfo memory {};
  EXPECT_EQ(uname(&names), 0);
  EXPECT_EQ(sysinfo(&memory), 0);
  const unsigned long long ram = static_cast<unsigned long long>(memory.totalram) * memory.mem_unit;
  return std::string(R"("os":"linux","os_version":")") + names.release + R"(","device_model":")" + deviceModel +
         R"(","arch":")" + names.machine + R"(","cpu_cores":)" + std::to_string(std::thread::hardware_concurrency()) +
         R"(,"ram_bytes":)" + std::to_string(ram) + R"(,"sdk_version":")" + loadedVersion() + "\"";
}

// The pending JSON of a fresh store after `record`, with the snapshot's ts checked against the
// wall clock and replaced by T.
std::string pendingAfter(const std::function<void()>& record) {
  const int64_t before = std::time(nullptr);
  std::string text = inFreshStore([&] {
    record();
    return std::string(le_tel_pending_json());
  });
  const int64_t after = std::time(nullptr);
  static const std::regex ts(R"("ts":([0-9]+),)");
  std::smatch found;
  if (!std::regex_search(text, found, ts)) {
    ADD_FAILURE() << "no ts member in " << text;
    return text;
  }
  const int64_t seconds = std::stoll(found[1]);
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after);
  return text.replace(static_cast<size_t>(found.position(0)), static_cast<size_t>(found.length(0)), R"("ts":T,)");
}

// A fresh store's pending JSON: nothing queued, the machine, then `rest` (the members after
// sdk_version).
std::string expectedPending(const std::string& rest, const std::string& deviceModel = "") {
  return R"({"queued":0,"snapshot":{"ts":T,)" + machineMembers(deviceModel) + rest + "}}";
}

TEST(TelSnapshot, EmptyStoreHasTheMachineMembersAndAnEmptyExtra) {
  EXPECT_EQ(pendingAfter([] {}), expectedPending(R"(,"extra":{})"));
}

TEST(TelSnapshot, NullOrEmptyKeysAndNullTextsChangeNothing) {
  const std::string text = pendingAfter([] {
    le_tel_record(nullptr, 1);
    le_tel_record("", 2);
    le_tel_record_str(nullptr, "x");
    le_tel_record_str("", "x");
    le_tel_record_str("model_key", nullptr);
    le_tel_record_str("k", nullptr);
  });
  EXPECT_EQ(text, expectedPending(R"(,"extra":{})"));
}

TEST(TelSnapshot, KnownNumbersFollowInTableOrderWholeOrWithSixDigits) {
  const std::string text = pendingAfter([] {
    le_tel_record("thermal_state", 1);
    le_tel_record("load_ms", 1e-7);
    le_tel_record("session_s", 3600);
    le_tel_record("frames_total", 1);
    le_tel_record("frames_total", 1200);
    le_tel_record("fps_ema", 24.5);
  });
  EXPECT_EQ(text, expectedPending(
                      R"(,"fps_ema":24.5,"frames_total":1200,"session_s":3600,"load_ms":1e-07,"thermal_state":1,"extra":{})"));
}

TEST(TelSnapshot, NumbersJsonCannotHoldAreNullAndWholeOnesPastInt64UseAnExponent) {
  const std::string text = pendingAfter([] {
    le_tel_record("fps_ema", std::nan(""));
    le_tel_record("frames_total", std::numeric_limits<double>::infinity());
    le_tel_record("low", -std::numeric_limits<double>::infinity());
    le_tel_record("big", 1e19);
  });
  EXPECT_EQ(text, expectedPending(R"(,"fps_ema":null,"frames_total":null,"extra":{"big":1e+19,"low":null})"));
}

TEST(TelSnapshot, ExtraHoldsOtherNumbersInKeyOrderThenOtherTexts) {
  const std::string text = pendingAfter([] {
    le_tel_record_str("tier", "high");
    le_tel_record("gpu", 3);
    le_tel_record_str("aaa", "first text");
    le_tel_record("zz", 1e-7);
  });
  EXPECT_EQ(text, expectedPending(R"(,"extra":{"gpu":3,"zz":1e-07,"aaa":"first text","tier":"high"})"));
}

TEST(TelSnapshot, ModelKeyFollowsTheKnownNumbersAndDeviceModelReplacesTheMachines) {
  const std::string text = pendingAfter([] {
    le_tel_record_str("model_key", "b24_fp32");
    le_tel_record_str("device_model", "rig 7");
    le_tel_record("fps_ema", 25);
  });
  EXPECT_EQ(text, expectedPending(R"(,"fps_ema":25,"model_key":"b24_fp32","extra":{})", "rig 7"));
}

TEST(TelSnapshot, KeysAndTextsAreEscaped) {
  const std::string text = pendingAfter([] {
    le_tel_record_str("note", "say \"hi\"\\\n\t\x01");
    le_tel_record("k\"ey", 1);
    le_tel_record_str("bytes", "\xff\xc3\xa9");
  });
  EXPECT_EQ(text, expectedPending(R"(,"extra":{"k\"ey":1,"bytes":"\ufffd)" "\xc3\xa9" R"(","note":"say \"hi\"\\\n\t\u0001"})"));
}

}  // namespace
}  // namespace le::test
