// What each fuzz target gives the shared replay driver (fuzz_replay_main.cpp): its seed inputs
// and the file extension its seeds are written with when the driver saves them as a corpus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace le::fuzz {

struct SeedCorpus {
  std::vector<std::vector<uint8_t>> seeds;
  std::string extension;  // with its dot: ".onnx"
};

SeedCorpus seedCorpus();

}  // namespace le::fuzz
