// Runs a fuzz target without libFuzzer (g++ has none): over the files named on the command line,
// or over the target's seed corpus (fuzz_seeds.h) and seeded mutations of it. Every target links
// this driver with its own LLVMFuzzerTestOneInput and seedCorpus().
//   <replay> FILE...                     replay inputs (for example a libFuzzer finding)
//   <replay> [--runs N] [--seed S] [--corpus-out DIR]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fuzz/fuzz_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

Bytes mutate(const Bytes& seed, std::mt19937& rng) {
  Bytes m = seed;
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits && !m.empty(); ++e) {
    const size_t at = rng() % m.size();
    switch (rng() % 5) {
      case 0: m[at] = static_cast<uint8_t>(rng()); break;
      case 1: m[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
      case 2: m.resize(at); break;
      case 3: m.insert(m.begin() + static_cast<long>(at), static_cast<uint8_t>(rng())); break;
      default: m[at] = 0xff; break;
    }
  }
  return m;
}

int replayFiles(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "%s: cannot open %s\n", argv[0], argv[i]);
      return 1;
    }
    const Bytes bytes((std::istreambuf_iterator<char>(in)), {});
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("replayed %d input(s)\n", argc - 1);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strncmp(argv[1], "--", 2) != 0) return replayFiles(argc, argv);
  long runs = 200000;
  unsigned seed = 1;
  std::string corpusOut;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--runs")) runs = std::atol(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--seed")) seed = static_cast<unsigned>(std::atol(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--corpus-out")) corpusOut = argv[i + 1];
  }
  const le::fuzz::SeedCorpus corpus = le::fuzz::seedCorpus();
  const std::vector<Bytes>& seeds = corpus.seeds;
  if (seeds.empty()) {
    std::fprintf(stderr, "%s: no seed inputs\n", argv[0]);
    return 1;
  }
  if (!corpusOut.empty()) {
    std::filesystem::create_directories(corpusOut);
    for (size_t i = 0; i < seeds.size(); ++i) {
      std::ofstream out(std::filesystem::path(corpusOut) / ("seed" + std::to_string(i) + corpus.extension), std::ios::binary);
      out.write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
    }
  }
  for (const Bytes& s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size());
  std::mt19937 rng(seed);
  for (long r = 0; r < runs; ++r) {
    const Bytes m = mutate(seeds[static_cast<size_t>(r) % seeds.size()], rng);
    LLVMFuzzerTestOneInput(m.data(), m.size());
  }
  std::printf("%ld mutated input(s) over %zu seed(s): no finding\n", runs, seeds.size());
  return 0;
}
