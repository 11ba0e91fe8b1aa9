// Snapshots of stores filled with hostile keys and values (control bytes, broken UTF-8, NaN,
// infinities, numbers past the 64-bit range), judged by Python's json module.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tel/python_json.h"
#include "tel/store.h"

namespace le::tel {
namespace {

constexpr int kSnapshots = 4000;
constexpr double kInf = std::numeric_limits<double>::infinity();

// Values near every edge of the number format.
const std::vector<double> kEdgeNumbers = {
    std::nan(""), -std::nan(""), kInf, -kInf, 0.0, -0.0, 1e-7, 24.5, 1200, 1e300, -1e300,
    9223372036854775808.0, -9223372036854775808.0, 9223372036854774784.0, 1e19,
    std::numeric_limits<double>::max(), std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min()};

// Keys the snapshot treats specially.
const std::vector<std::string> kPlacedKeys = {"fps_ema", "frames_total", "session_s", "load_ms",
                                              "thermal_state", "model_key", "device_model"};

// Pieces that hostile texts are glued from: control bytes, quotes, the escapes' own characters,
// well-formed and cut-short UTF-8, overlongs, surrogates, bytes that never occur in UTF-8.
const std::vector<std::string> kPieces = {
    "\"", "\\", "\n", "\t", "\r", "\x01", "\x1f", "\x7f", "\\u", "/", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80",
    "\xe2\x80\xa8", "\xc3", "\xe2\x82", "\xf0\x9f\x98", "\x80", "\xbf", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
    "\xed\xbf\xbf", "\xf4\x90\x80\x80", "\xf8\x88\x80\x80\x80", "\xfe", "\xff", "a", "key"};

class HostileStore {
 public:
  explicit HostileStore(uint32_t seed) : rng_(seed) {}

  std::string text() {
    std::string out;
    for (int n = pick(6); n > 0; --n) {
      if (pick(3) == 0) {
        out.push_back(static_cast<char>(1 + pick(255)));  // any byte but NUL, as through the C header
      } else {
        out += kPieces[pick(kPieces.size())];
      }
    }
    return out;
  }
  std::string key() { return pick(3) == 0 ? kPlacedKeys[pick(kPlacedKeys.size())] : text(); }
  double number() {
    if (pick(2) == 0) return kEdgeNumbers[pick(kEdgeNumbers.size())];
    return std::bit_cast<double>(static_cast<uint64_t>(rng_()) << 32 | rng_());
  }
  // A store holding a few hostile values; some snapshots are queued.
  void fill(Store& store) {
    for (int n = pick(8); n > 0; --n) {
      if (pick(2) == 0) {
        store.record(key(), number());
      } else {
        store.recordText(key(), text());
      }
    }
    if (pick(4) == 0) store.queueSnapshot();
  }
  size_t pick(size_t count) { return static_cast<size_t>(rng_() % count); }

 private:
  std::mt19937 rng_;
};

TEST(TelSnapshotWriter, HostileSnapshotsAndPendingStatesAreStrictJson) {
  test::TempDir dir;
  const std::string path = dir / "snapshots.jsonl";
  {
    std::ofstream out(path, std::ios::binary);
    HostileStore hostile(20240611);
    for (int i = 0; i < kSnapshots; ++i) {
      Store store("0.1.0");
      hostile.fill(store);
      out << (i % 2 == 0 ? store.snapshotJson() : store.pendingJson()) << '\n';
    }
  }
  const test::JsonCheck check = test::checkJsonLines(path);
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(check.out, std::to_string(kSnapshots) + " valid\n");
}

}  // namespace
}  // namespace le::tel
