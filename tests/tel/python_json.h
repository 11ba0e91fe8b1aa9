// The tests' independent judge of telemetry JSON: Python's json module behind check_json.py,
// started once per file.
#pragma once

#include <string>

namespace le::test {

struct JsonCheck {
  int status;       // 0 when every text passed
  std::string out;  // the script's report, or its reason for refusing
};

// Every line of the file is a snapshot or a pending-state object: out is "<count> valid\n".
JsonCheck checkJsonLines(const std::string& path);

// The file is one delivery body: out is "[<batch length>, [<extra[key] of each snapshot>]]\n".
JsonCheck checkBatch(const std::string& path, const std::string& key);

}  // namespace le::test
