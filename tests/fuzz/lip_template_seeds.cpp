// The lip template target's seeds: the baker's templates (with and without the map, and one for
// each refusal of the reader), written into a temporary folder when the replay starts.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/fuzz_seeds.h"

namespace le::fuzz {

SeedCorpus seedCorpus() {
  SeedCorpus corpus{{}, ".json"};
  char pattern[] = "/tmp/le_lip_template_seeds_XXXXXX";
  if (!mkdtemp(pattern)) return corpus;
  const std::filesystem::path dir = pattern;
  const std::string command = "/usr/bin/python3 -B " LE_SOURCE_DIR "/tools/bake/lip_template.py " + dir.string();
  std::vector<std::filesystem::path> files;
  if (std::system(command.c_str()) == 0)
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      if (entry.path().extension() == ".json") files.push_back(entry.path());
  // In name order, so that a replay seed gives the same mutations on every machine.
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    corpus.seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return corpus;
}

}  // namespace le::fuzz
