// The IMX container target's seeds: the baker's small bundle trees (welded and descriptive member
// names) packed by the library's own packer, and hand-made containers for the reader's corners:
// payloads out of order and shared, an empty name, a synthetic manifest, a member past the end,
// an unsafe name, a short table and an older version.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "bundle/imx_container.h"
#include "fuzz/fuzz_seeds.h"

namespace le::fuzz {

namespace {

using Bytes = std::vector<uint8_t>;

struct Slot {
  std::string name;
  uint64_t offset, size;
};

void putLe(Bytes& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// A container of `count` declared members whose table holds `slots` (offsets relative to the
// payload area, which follows the table), then the payload area.
Bytes container(uint16_t version, uint16_t count, const std::vector<Slot>& slots, const std::string& payloads) {
  size_t table = 8;
  for (const Slot& s : slots) table += 2 + s.name.size() + 16;
  Bytes out = {'I', 'M', 'X', 0};
  putLe(out, version, 2);
  putLe(out, count, 2);
  for (const Slot& s : slots) {
    putLe(out, s.name.size(), 2);
    out.insert(out.end(), s.name.begin(), s.name.end());
    putLe(out, table + s.offset, 8);
    putLe(out, s.size, 8);
  }
  out.insert(out.end(), payloads.begin(), payloads.end());
  return out;
}

std::vector<Bytes> handMade() {
  const std::string synthetic = R"({"_imx_synthetic_manifest": true})";
  const std::string payloads = synthetic + "second-first-shared";
  const uint64_t s = synthetic.size();
  return {
      container(2, 6,
                {{"manifest.json", 0, s}, {"", 0, 4}, {"b.bin", s + 7, 5}, {"idle_loop/a.bin", s, 6},
                 {"shared.bin", s + 7, 5}, {"empty.bin", 1u << 20, 0}},
                payloads),
      container(2, 1, {{"past_end.bin", 4, 64}}, "short"),
      container(2, 2, {{"ok.bin", 0, 2}, {"a/../escape.bin", 0, 2}}, "ok"),
      container(2, 3, {{"only_one.bin", 0, 1}}, "x"),
      container(2, 0, {}, ""),
      container(1, 0, {}, ""),
  };
}

Bytes fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

SeedCorpus seedCorpus() {
  SeedCorpus corpus{{}, ".imx"};
  char pattern[] = "/tmp/le_imx_container_seeds_XXXXXX";
  if (!mkdtemp(pattern)) return corpus;
  const std::filesystem::path dir = pattern;
  const std::string command =
      "/usr/bin/python3 -B " LE_SOURCE_DIR "/tools/bake/fuzz_seeds.py imx_tree " + (dir / "trees").string();
  if (std::system(command.c_str()) == 0) {
    for (const char* scheme : {"welded", "descriptive"}) {
      const std::filesystem::path packed = dir / (std::string(scheme) + ".imx");
      imx::packDirectory((dir / "trees" / scheme).string(), packed.string());
      corpus.seeds.push_back(fileBytes(packed));
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  for (Bytes& seed : handMade()) corpus.seeds.push_back(std::move(seed));
  return corpus;
}

}  // namespace le::fuzz
