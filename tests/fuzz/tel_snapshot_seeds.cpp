// The telemetry snapshot fuzz target's seeds: records of each kind, with the edge values of the
// number format and texts that need every kind of escape.
#include <cstdint>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/fuzz_seeds.h"

namespace le::fuzz {

namespace {

using Bytes = std::vector<uint8_t>;

// Op bits as the target reads them: 1 text (else number), 2 queue a snapshot after it, 0x80 a key
// with a place of its own chosen by bits 2 to 6 (else a length byte and the key's bytes).
void appendRecord(Bytes& out, uint8_t op, const std::string& key, const std::string& text, double number) {
  out.push_back(op);
  if (!(op & 0x80)) {
    out.push_back(static_cast<uint8_t>(key.size()));
    out.insert(out.end(), key.begin(), key.end());
  }
  if (op & 1) {
    out.push_back(static_cast<uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
  } else {
    uint8_t bits[sizeof number];
    std::memcpy(bits, &number, sizeof number);
    out.insert(out.end(), bits, bits + sizeof bits);
  }
}

Bytes numbers(std::initializer_list<double> values) {
  Bytes out;
  int slot = 0;
  for (const double value : values) appendRecord(out, static_cast<uint8_t>(0x80 | (slot++ % 5) << 2), "", "", value);
  return out;
}

}  // namespace

SeedCorpus seedCorpus() {
  const double inf = std::numeric_limits<double>::infinity();
  Bytes texts;
  appendRecord(texts, 0x01, "note", "say \"hi\"\\\n\t\x01", 0);
  appendRecord(texts, 0x81 | 5 << 2, "", "b24_fp32", 0);
  appendRecord(texts, 0x81 | 6 << 2, "", "rig \xc3\xa9", 0);
  appendRecord(texts, 0x03, "bytes\xff", "\xe2\x82" "A\xed\xa0\x80\xf4\x90\x80\x80\xc0\xaf", 0);
  Bytes extra;
  appendRecord(extra, 0x00, "gpu", "", 3);
  appendRecord(extra, 0x01, "tier", "high", 0);
  appendRecord(extra, 0x02, "k\"ey", "", 1e-7);
  return {{
      numbers({1200, 24.5, 1e-7, 3600, 1}),
      numbers({std::nan(""), inf, -inf, 9223372036854775808.0, -9223372036854775808.0, 1e300,
               std::numeric_limits<double>::denorm_min(), -0.0}),
      texts,
      extra,
  }, ".bin"};
}

}  // namespace le::fuzz
