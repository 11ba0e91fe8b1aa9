// The value tree of the teeth JSON reader. Objects keep their members in document order and a
// lookup takes the first member whose key matches, so a repeated key is never seen.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace le::tessera::json {

struct JVal {
  static constexpr int32_t kNull = 0;
  static constexpr int32_t kBool = 1;
  static constexpr int32_t kNumber = 2;
  static constexpr int32_t kString = 3;
  static constexpr int32_t kArray = 4;
  static constexpr int32_t kObject = 5;

  int32_t kind = kNull;
  bool boolean = false;
  double number = 0.0;
  std::string string;
  std::vector<JVal> array;
  std::vector<std::pair<std::string, JVal>> object;

  JVal() = default;
  explicit JVal(int32_t k) : kind(k) {}
  JVal(JVal&&) noexcept = default;
  JVal& operator=(JVal&&) noexcept = default;
  // A copy would recurse as deep as the document nests; nothing needs one.
  JVal(const JVal&) = delete;
  JVal& operator=(const JVal&) = delete;
  // Releases nested values iteratively: hostile text may nest far deeper than the call stack.
  ~JVal();

  bool isObject() const { return kind == kObject; }
  bool isArray() const { return kind == kArray; }

  // The first member named `key`, or null (always null for a value that is not an object).
  const JVal* find(const std::string& key) const;
};

}  // namespace le::tessera::json
