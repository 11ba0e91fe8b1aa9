// libFuzzer target over the IMX container reader (header and table of contents), reading the input
// from a memory stream: the reader accepts exactly the inputs whose table a plain reading finds
// whole, and returns the same members; it refuses every other input with the message that names
// where the table broke off. Anything else (a crash, an out-of-bounds access under the sanitizers,
// another exception, a different member list) is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bundle/imx_container.h"
#include "fuzz/imx_plain_toc.h"

namespace {

const std::string kContainer = "fuzz.imx";

bool isReaderRefusal(const std::string& text) {
  static const char* const kMessages[] = {": not an IMX\\0 container", ": unsupported IMX container version ",
                                          ": truncated TOC at member ", ": truncated member name at ",
                                          ": truncated TOC offsets at member "};
  for (const char* message : kMessages)
    if (text.rfind(kContainer + message, 0) == 0) return true;
  return false;
}

struct StreamCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // fmemopen refuses an empty buffer; an empty stream reads the same as an empty file.
  std::unique_ptr<std::FILE, StreamCloser> f(size ? fmemopen(const_cast<uint8_t*>(data), size, "rb")
                                                  : std::fopen("/dev/null", "rb"));
  if (!f) std::abort();
  const std::optional<std::vector<le::fuzz::PlainMember>> plain = le::fuzz::plainToc(data, size);
  try {
    const std::vector<le::imx::Entry> toc = le::imx::readToc(f.get(), kContainer);
    if (!plain || plain->size() != toc.size()) std::abort();
    for (size_t i = 0; i < toc.size(); ++i) {
      const le::fuzz::PlainMember& want = (*plain)[i];
      if (toc[i].name != want.name || toc[i].offset != want.offset || toc[i].size != want.size) std::abort();
    }
  } catch (const std::runtime_error& e) {
    if (plain || !isReaderRefusal(e.what())) std::abort();
  }
  return 0;
}
