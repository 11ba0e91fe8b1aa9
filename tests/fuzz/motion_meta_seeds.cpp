// The motion meta target's seeds: the metas the baker writes (test and demo presets, with a pitch
// offset, without s_bridge, with s_bridge lacking its colon, with one source record too many) and
// texts for the reader's corners: counts at and past their bounds, fractions, non-finite gains.
#include <utility>

#include "fuzz/baked_seeds.h"
#include "fuzz/fuzz_seeds.h"

namespace le::fuzz {

SeedCorpus seedCorpus() {
  SeedCorpus corpus{bakedSeeds("motion_meta"), ".json"};
  for (const char* text : {
           R"({"nt": 1e9, "n_src": 1000000000, "n_emo": 1, "s_bridge": 1e39, "delta_pitch": -inf})",
           R"({"nt": 1.5, "n_src": 0x2, "n_emo": nan, "s_bridge": nan})",
           R"({"delta_pitch": "nt": 3, "n_src": 3, "n_emo": 1000000001, "s_bridge":)",
       })
    corpus.seeds.push_back(bytesOf(text));
  for (std::vector<uint8_t>& seed : regressionSeeds("motion_meta")) corpus.seeds.push_back(std::move(seed));
  return corpus;
}

}  // namespace le::fuzz
