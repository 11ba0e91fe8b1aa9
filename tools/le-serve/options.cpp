#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "common/tool_cli.h"

namespace le_serve {

const char kUsage[] =
    "usage: le-serve BUNDLE --motion DIR [--port 8080] [--listen ADDR] [--teeth] [--max-upload MB] [--threads N]\n"
    "                [--verbose]\n"
    "       le-serve --help | --version\n"
    "Serves a page that shows the person live and lets one viewer at a time make it speak.\n"
    "  --motion DIR     motion directory of the speech engine\n"
    "  --port N         TCP port (default 8080; 0 takes any free port)\n"
    "  --listen ADDR    address to listen on (default 127.0.0.1: this machine only)\n"
    "  --teeth          borrow real teeth from the bundle's teeth bank into every speech frame\n"
    "  --max-upload MB  the largest recording a viewer may send (default 16)\n"
    "  --threads N      the session's and the speech engine's thread count\n"
    "  --verbose        show every diagnostic line of the library (default: its warnings)\n";

namespace {

[[noreturn]] void usage(const std::string& why) {
  std::fprintf(stderr, "le-serve: %s (le-serve --help shows the usage)\n", why.c_str());
  std::exit(1);
}

int integer(const std::string& text, const char* flag) {
  if (const auto v = le::tool::wholeInt(text)) return *v;
  usage(std::string(flag) + " needs a number, not '" + text + "'");
}

}  // namespace

Options parseOptions(int argc, char** argv) {
  if (le::tool::answeredHelpOrVersion(argc, argv, "le-serve", kUsage)) std::exit(0);
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage(a + " needs a value");
      return argv[++i];
    };
    if (a == "--motion") o.motion = value();
    else if (a == "--listen") o.listen = value();
    else if (a == "--port") o.port = integer(value(), "--port");
    else if (a == "--max-upload") o.maxUploadMb = integer(value(), "--max-upload");
    else if (a == "--threads") o.threads = integer(value(), "--threads");
    else if (a == "--teeth") o.teeth = true;
    else if (a == "--verbose") o.verbose = true;
    else if (!a.empty() && a[0] == '-') usage("unknown option " + a);
    else if (o.bundle.empty()) o.bundle = a;
    else usage("unexpected argument " + a);
  }
  if (o.bundle.empty()) usage("BUNDLE is required");
  if (o.motion.empty()) usage("--motion DIR is required");
  if (o.port < 0 || o.port > 65535) usage("--port must be from 0 to 65535");
  if (o.maxUploadMb < 1 || o.maxUploadMb > 1024) usage("--max-upload must be from 1 to 1024 (MB)");
  if (o.threads < 0) usage("--threads must not be negative");
  return o;
}

}  // namespace le_serve
