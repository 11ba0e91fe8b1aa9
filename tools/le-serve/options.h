// The command line of le-serve.
#pragma once

#include <string>

namespace le_serve {

struct Options {
  std::string bundle, motion;
  // The address to listen on; loopback unless the host asks for more.
  std::string listen = "127.0.0.1";
  int port = 8080;  // 0: any free port (the one taken is printed)
  bool teeth = false;
  bool verbose = false;
  int threads = 0;
  int maxUploadMb = 16;  // the largest recording (and message) a viewer may send
};

// Parses argv; answers --help and --version itself (exit 0); a bad command line prints one line
// ("le-serve: " and what is wrong) on standard error and exits with status 1.
Options parseOptions(int argc, char** argv);

}  // namespace le_serve
