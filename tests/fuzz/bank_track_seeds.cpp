// The bank track target's seeds: the two-donor track and the video-less WAV the baker writes for the
// decoder's tests, made in a temporary folder when the replay starts.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/fuzz_seeds.h"

namespace le::fuzz {

SeedCorpus seedCorpus() {
  SeedCorpus corpus{{}, ".mp4"};
  char pattern[] = "/tmp/le_bank_track_seeds_XXXXXX";
  if (!mkdtemp(pattern)) return corpus;
  const std::filesystem::path dir = pattern;
  const std::string command =
      "/usr/bin/python3 -B " LE_SOURCE_DIR "/tools/bake/teeth_bank.py tracks " + dir.string();
  if (std::system(command.c_str()) == 0) {
    for (const char* name : {"tiny.mp4", "audio.wav"}) {
      std::ifstream in(dir / name, std::ios::binary);
      corpus.seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return corpus;
}

}  // namespace le::fuzz
