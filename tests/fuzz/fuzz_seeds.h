// The seed corpus a fuzz target hands the replay driver: each target defines seedCorpus() in its
// own seeds file.
#pragma once

#include <cstdint>
#include <vector>

namespace le::fuzz {

std::vector<std::vector<uint8_t>> seedCorpus();

}  // namespace le::fuzz
