#include "fuzz/baked_seeds.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace le::fuzz {

namespace {

std::vector<std::vector<uint8_t>> filesBelow(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> files;
  std::error_code missing;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, missing))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<std::vector<uint8_t>> seeds;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return seeds;
}

}  // namespace

std::vector<std::vector<uint8_t>> bakedSeeds(const std::string& kind) {
  char pattern[] = "/tmp/le_fuzz_seeds_XXXXXX";
  if (!mkdtemp(pattern)) return {};
  const std::filesystem::path dir = pattern;
  const std::string command =
      "/usr/bin/python3 -B " LE_SOURCE_DIR "/tools/bake/fuzz_seeds.py " + kind + " " + dir.string();
  std::vector<std::vector<uint8_t>> seeds;
  if (std::system(command.c_str()) == 0) seeds = filesBelow(dir);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return seeds;
}

std::vector<std::vector<uint8_t>> regressionSeeds(const std::string& target) {
  return filesBelow(std::filesystem::path(LE_SOURCE_DIR "/tests/fuzz/regressions") / target);
}

std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace le::fuzz
