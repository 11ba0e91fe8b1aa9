// The a2x meta target's seeds: the metas the baker writes (test and demo sizes, with the wn output,
// without left, with silence priming) and texts for the reader's corners: keys without a colon,
// a key inside another's text, numbers past the int range, signs and blanks before the value.
#include <utility>

#include "fuzz/baked_seeds.h"
#include "fuzz/fuzz_seeds.h"

namespace le::fuzz {

SeedCorpus seedCorpus() {
  SeedCorpus corpus{bakedSeeds("a2x_meta"), ".json"};
  for (const char* text : {
           R"({"h": 4294967297, "window": -2147483649, "left": 99999999999999999999, "layers": 65536})",
           "{\"width\":\t\n 1, \"h\" \"window\": +7, \"left\": 0x10, \"layers\": -3, \"silence_prime\": 1e3}",
           R"({"agent": "\"h\": 2", "window": 1, "left": 3, "width": falsey, "layers")",
       })
    corpus.seeds.push_back(bytesOf(text));
  for (std::vector<uint8_t>& seed : regressionSeeds("a2x_meta")) corpus.seeds.push_back(std::move(seed));
  return corpus;
}

}  // namespace le::fuzz
