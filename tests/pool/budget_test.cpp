// The thread budget is fixed at first use, so every case runs in a fresh child process: the test
// binary itself, filtered to BudgetChild and given the environment of the case.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pool/pool.h"

extern char** environ;

namespace le::pool {
namespace {

constexpr const char* kExpectVar = "LE_POOL_TEST_EXPECTED_THREADS";

// Runs only inside a child started by BudgetTest.
TEST(BudgetChild, ThreadsMatchExpectation) {
  const char* expected = std::getenv(kExpectVar);
  if (!expected) GTEST_SKIP() << "runs only as a child of BudgetTest";
  EXPECT_EQ(threads(), std::atoi(expected));
  EXPECT_EQ(threads(), threads());
}

struct BudgetCase {
  const char* name;
  std::optional<std::string> core;
  std::optional<std::string> paste;
  int request;  // what the variables ask for, before the hardware cap
};

int capped(int request) {
  const unsigned hw = std::thread::hardware_concurrency();
  return hw > 0 && hw < static_cast<unsigned>(request) ? static_cast<int>(hw) : request;
}

// Exit status of this binary run with the case's environment and the child filter.
int runChild(const BudgetCase& c) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "LE_CORE_THREADS=", 16) && std::strncmp(*e, "LE_PASTE_THREADS=", 17) &&
        std::strncmp(*e, "GTEST_", 6)) {
      env.emplace_back(*e);
    }
  }
  if (c.core) env.push_back("LE_CORE_THREADS=" + *c.core);
  if (c.paste) env.push_back("LE_PASTE_THREADS=" + *c.paste);
  env.push_back(std::string(kExpectVar) + "=" + std::to_string(capped(c.request)));
  std::vector<char*> envp;
  for (std::string& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string exe = "/proc/self/exe";
  std::string filter = "--gtest_filter=BudgetChild.ThreadsMatchExpectation";
  char* argv[] = {exe.data(), filter.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class BudgetTest : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(BudgetTest, ComesFromTheEnvironmentCappedByTheHardware) {
  EXPECT_EQ(runChild(GetParam()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BudgetTest,
    ::testing::Values(BudgetCase{"Default", std::nullopt, std::nullopt, 4},
                      BudgetCase{"CoreZero", "0", std::nullopt, 1},
                      BudgetCase{"CoreNegative", "-3", std::nullopt, 1},
                      BudgetCase{"CoreNotANumber", "many", std::nullopt, 1},
                      BudgetCase{"CoreTrailingText", "2threads", std::nullopt, 2},
                      BudgetCase{"CoreAboveHardware", "64", std::nullopt, 64},
                      BudgetCase{"CoreBeforePaste", "1", "2", 1},
                      BudgetCase{"EmptyCoreFallsToPaste", "", "1", 1},
                      BudgetCase{"PasteZero", std::nullopt, "0", 1},
                      BudgetCase{"BothEmpty", "", "", 4}),
    [](const ::testing::TestParamInfo<BudgetCase>& info) { return info.param.name; });

}  // namespace
}  // namespace le::pool
