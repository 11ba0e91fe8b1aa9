// The manifest target's seeds: the manifests the baker writes (the test bundle's with its teeth
// and lip blocks, the demo preset's, the alias, no-stamp, doubled-stamp and movie-prior variants)
// and texts for the scanner's corners: nested and repeated keys, keys inside strings, escapes, a
// key at the very end, non-finite and out-of-range numbers.
#include <utility>

#include "fuzz/baked_seeds.h"
#include "fuzz/fuzz_seeds.h"

namespace le::fuzz {

SeedCorpus seedCorpus() {
  SeedCorpus corpus{bakedSeeds("manifest"), ".json"};
  const std::string base = R"("format": "le-bundle-v0", "agent": "a\"b", "NT": 12.9, "W": 160, "crop_size": 64, )"
                           R"("amount": 1.3, "sigma": 2, "ksize": 13, "frames": 0)";
  for (const std::string& text : {
           "{" + base + R"(, "H": 120, "x": {"H": 1}, "M_src_w": -1e300, "paste_source_width": 160, "M_src_h": 120})",
           "{" + base + R"(, "H": {"H": 2}, "y": {"H": 720}, "s": "\"H\": 3", "M_src_w": 1, "M_src_h": 1})",
           "{" + base + R"(, "H": 120, "H": 121, "a": [{"NT": 1}, {"NT": 2}], "M_src_w": 0, "M_src_h": 1})",
           "{" + base + R"(, "H": nan, "W": inf, "NT": 1e10, "crop": 0x40, "M_src_w": 16385, "M_src_h":)",
           std::string(R"({"format": "le-bundle-v0", "agent": "\)"),
       })
    corpus.seeds.push_back(bytesOf(text));
  for (std::vector<uint8_t>& seed : regressionSeeds("manifest")) corpus.seeds.push_back(std::move(seed));
  return corpus;
}

}  // namespace le::fuzz
