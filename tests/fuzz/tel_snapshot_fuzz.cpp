// libFuzzer target over the telemetry snapshot writer: the input is a list of values recorded
// into a store of its own (arbitrary key and text bytes, arbitrary doubles, the keys with places
// of their own). Every snapshot, pending state and delivery batch must be strict JSON
// (strict_json.h), and every key and text that was well-formed UTF-8 must come back unchanged.
// Anything else (an abort, a sanitizer report) is a finding.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/strict_json.h"
#include "tel/store.h"

namespace {

using le::fuzz::StrictJson;

constexpr std::array<std::string_view, 7> kPlacedKeys = {"fps_ema", "frames_total", "session_s", "load_ms",
                                                         "thermal_state", "model_key", "device_model"};
constexpr int kMaxRecords = 64;
// Each queued snapshot is joined into every later batch: a few show the joining without making
// long inputs quadratic.
constexpr int kMaxQueued = 3;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t byte() { return empty() ? 0 : data_[at_++]; }
  std::string_view bytes(size_t count) {
    count = std::min(count, size_ - std::min(at_, size_));
    const std::string_view out(reinterpret_cast<const char*>(data_ + at_), count);
    at_ += count;
    return out;
  }
  double number() {
    uint64_t bits = 0;
    const std::string_view raw = bytes(sizeof bits);
    std::memcpy(&bits, raw.data(), raw.size());
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  // A key with a place of its own, or up to 31 arbitrary bytes.
  std::string_view key(uint8_t op) {
    if (op & 0x80) return kPlacedKeys[(op >> 2) % kPlacedKeys.size()];
    return bytes(byte() % 32);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

bool wellFormed(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = StrictJson::utf8Length(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::vector<std::string> parsedStrings(const std::string& json) {
  std::vector<std::string> strings;
  if (!StrictJson::parse(json, strings)) std::abort();
  return strings;
}

// Every well-formed key and text that the store still holds appears among the decoded strings.
void checkRoundTrip(const std::vector<std::string>& decoded, const std::map<std::string, std::string>& texts,
                    const std::set<std::string>& keys) {
  const std::set<std::string> seen(decoded.begin(), decoded.end());
  for (const auto& entry : texts) {
    if (wellFormed(entry.second) && !seen.count(entry.second)) std::abort();
  }
  for (const std::string& key : keys) {
    if (wellFormed(key) && !seen.count(key)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input(data, size);
  le::tel::Store store("0.1.0");
  std::map<std::string, std::string> texts;  // the texts the store holds, as recorded
  std::set<std::string> keys;                // every non-empty key recorded
  int queued = 0;
  for (int record = 0; record < kMaxRecords && !input.empty(); ++record) {
    const uint8_t op = input.byte();
    const std::string key(input.key(op));
    if (op & 1) {
      const std::string text(input.bytes(input.byte() % 64));
      store.recordText(key, text);
      if (!key.empty()) texts[key] = text;
    } else {
      store.record(key, input.number());
    }
    if (!key.empty()) keys.insert(key);
    if ((op & 2) && queued < kMaxQueued) {
      store.queueSnapshot();
      ++queued;
    }
  }
  checkRoundTrip(parsedStrings(store.snapshotJson()), texts, keys);
  parsedStrings(store.pendingJson());
  parsedStrings("{\"batch\":[" + store.queueSnapshot() + "]}");
  return 0;
}
