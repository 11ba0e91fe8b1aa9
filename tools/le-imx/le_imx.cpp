// le-imx: writes and lists IMX v2 bundle containers.
//   le-imx pack DIR OUT.imx    pack every file below DIR
//   le-imx list FILE.imx       print each member: size, offset, name
//   le-imx --help | --version
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "bundle/imx_container.h"
#include "common/tool_cli.h"

namespace {

const char kUsage[] =
    "usage: le-imx pack DIR OUT.imx    pack every file below DIR into an IMX v2 container\n"
    "       le-imx list FILE.imx       print each member: size, offset, name\n"
    "       le-imx --help | --version\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int list(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) throw std::runtime_error("cannot open container " + path);
  for (const le::imx::Entry& e : le::imx::readToc(f.get(), path))
    std::printf("%12" PRIu64 " %12" PRIu64 "  %s\n", e.size, e.offset, e.name.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (le::tool::answeredHelpOrVersion(argc, argv, "le-imx", kUsage)) return 0;
  try {
    if (argc == 4 && std::strcmp(argv[1], "pack") == 0) {
      le::imx::packDirectory(argv[2], argv[3]);
      return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "list") == 0) return list(argv[2]);
    return usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "le-imx: %s\n", e.what());
    return 1;
  }
}
