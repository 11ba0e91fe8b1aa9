// Running the built command-line tools from tests, as a user runs them.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace le::test {

struct ToolRun {
  int status;
  std::string out;
};

// Runs a shell command; stderr goes to `errFile` when given, else into out.
inline ToolRun runCommand(const std::string& command, const std::string& errFile = "") {
  std::string cmd = command + (errFile.empty() ? " 2>&1" : " 2>" + errFile);
  ToolRun r{-1, ""};
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// Runs a tool from the build's bin directory.
inline ToolRun runTool(const std::string& args, const std::string& errFile = "") {
  return runCommand(std::string(LE_TEST_BIN_DIR) + "/" + args, errFile);
}

}  // namespace le::test
