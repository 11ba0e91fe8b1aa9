// Mutated models through every reader: each one is either read or refused with a reader message,
// and never read out of bounds (the sanitizer build checks the latter).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fuzz/onnx_fuzz_body.h"
#include "render/support/test_models.h"

namespace {

using le::GsBytes;

GsBytes mutate(const GsBytes& seed, std::mt19937& rng) {
  GsBytes m = seed;
  std::uniform_int_distribution<int> kind(0, 4), byte(0, 255);
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits && !m.empty(); ++e) {
    const size_t at = rng() % m.size();
    switch (kind(rng)) {
      case 0: m[at] = static_cast<uint8_t>(byte(rng)); break;
      case 1: m[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
      case 2: m.resize(at); break;
      case 3: m.insert(m.begin() + static_cast<long>(at), static_cast<uint8_t>(byte(rng))); break;
      default: m[at] = 0xff; break;  // a continuation byte where a length or tag ends
    }
  }
  return m;
}

TEST(OnnxFuzz, MutatedModelsAreReadOrRefusedWithAReaderMessage) {
  std::mt19937 rng(20260915);
  int refused = 0, read = 0;
  for (const char* name : {"director", "baked", "gs_w13", "gs_linear20"}) {
    const GsBytes& seed = le::test::testModel(name);
    ASSERT_FALSE(seed.empty());
    EXPECT_EQ(le::fuzz::onnxFuzzOne(seed.data(), seed.size()), "") << name;
    for (int i = 0; i < 1500; ++i) {
      const GsBytes m = mutate(seed, rng);
      const std::string result = le::fuzz::onnxFuzzOne(m.data(), m.size());
      if (result.empty()) {
        ++read;
      } else {
        ++refused;
        ASSERT_TRUE(le::fuzz::isReaderRefusal(result)) << result;
      }
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(read, 0);
}

}  // namespace
