// Seed inputs of the bundle readers' targets: the files the baker's fuzz_seeds.py (tools/bake) writes
// for one kind of bundle file, and the inputs of past findings kept in regressions/<target>/; each
// in name order, so that a replay seed gives the same mutations on every machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace le::fuzz {

// Runs "fuzz_seeds.py <kind>" into a temporary folder and returns every file it wrote; empty when
// the baker fails.
std::vector<std::vector<uint8_t>> bakedSeeds(const std::string& kind);

// Every file of regressions/<target>/ in the source tree: inputs that once found a fault.
std::vector<std::vector<uint8_t>> regressionSeeds(const std::string& target);

std::vector<uint8_t> bytesOf(const std::string& text);

}  // namespace le::fuzz
