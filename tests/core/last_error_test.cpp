#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "core/last_error.h"
#include "le/le.h"

extern "C" int le_c99_headers_compile(void);

namespace {

int failWith(const char* what) {
  return le::guarded<le::CoreFamily>("le_probe", -1, [&]() -> int { throw std::runtime_error(what); });
}

}  // namespace

TEST(LastError, EmptyOnAFreshThreadAndNeverNull) {
  std::string seen = "unset";
  std::thread([&] { seen = le_last_error(); }).join();
  EXPECT_EQ(seen, "");
}

TEST(LastError, FailureIsNamedAndClearedBySuccess) {
  EXPECT_EQ(failWith("boom"), -1);
  EXPECT_STREQ(le_last_error(), "le_probe: boom");
  EXPECT_EQ(le::guarded<le::CoreFamily>("le_probe", -1, [] { return 7; }), 7);
  EXPECT_STREQ(le_last_error(), "");
}

TEST(LastError, ForeignExceptionsAreCaughtWithAFixedText) {
  int r = le::guarded<le::CoreFamily>("le_probe", -1, []() -> int { throw 42; });
  EXPECT_EQ(r, -1);
  EXPECT_STREQ(le_last_error(), "le_probe: unknown exception (not derived from std::exception)");
}

TEST(LastError, FailuresStayOnTheirThread) {
  failWith("main thread");
  std::string other;
  std::thread([&] {
    failWith("other thread");
    other = le_last_error();
  }).join();
  EXPECT_EQ(other, "le_probe: other thread");
  EXPECT_STREQ(le_last_error(), "le_probe: main thread");
}

TEST(LastError, KeypointRowsAndCHeaders) {
  EXPECT_EQ(le_host_kp_rows(), 21);
  EXPECT_EQ(le::kHostKpRows, 21);
  EXPECT_EQ(le_c99_headers_compile(), 1);
}
