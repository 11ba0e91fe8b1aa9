#include "tel/python_json.h"

#include "support/run_tool.h"

namespace le::test {
namespace {

JsonCheck runCheck(const std::string& arguments) {
  const ToolRun run = runCommand(std::string("/usr/bin/python3 ") + LE_TEL_JSON_CHECK + " " + arguments);
  return {run.status, run.out};
}

std::string quoted(const std::string& word) { return "'" + word + "'"; }

}  // namespace

JsonCheck checkJsonLines(const std::string& path) { return runCheck("lines " + quoted(path)); }

JsonCheck checkBatch(const std::string& path, const std::string& key) {
  return runCheck("batch " + quoted(path) + " " + quoted(key));
}

}  // namespace le::test
