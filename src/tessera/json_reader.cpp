#include "tessera/json_reader.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace le::tessera::json {

namespace {

// An object or array whose members are still being read; `key` names the member being read.
struct OpenContainer {
  JVal value;
  std::string key;
};

class Reader {
 public:
  // strtod needs a terminated copy of the text.
  explicit Reader(std::string_view text) : text_(text) {}

  JVal document() {
    std::vector<OpenContainer> open;
    for (;;) {
      std::optional<JVal> read = valueOrOpen(open);
      if (!read) continue;
      JVal value = std::move(*read);
      for (;;) {
        if (open.empty()) return value;
        OpenContainer& top = open.back();
        append(top, std::move(value));
        if (!nextMember(top)) break;
        value = std::move(top.value);
        open.pop_back();
      }
    }
  }

 private:
  bool atEnd() const { return pos_ >= text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[pos_]; }

  void skipBlanks() {
    while (!atEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' || text_[pos_] == '\n'))
      ++pos_;
  }

  bool startsWith(const char* word) const { return text_.compare(pos_, std::strlen(word), word) == 0; }

  static char closerOf(const JVal& container) { return container.isObject() ? '}' : ']'; }

  // Reads a scalar, or opens a container and pushes it (returning nothing). An empty container is
  // complete at once and returned like a scalar.
  std::optional<JVal> valueOrOpen(std::vector<OpenContainer>& open) {
    skipBlanks();
    if (atEnd()) throw std::runtime_error("teeth: JSON truncated");
    const char c = text_[pos_];
    if (c == '{' || c == '[') {
      ++pos_;
      JVal container(c == '{' ? JVal::kObject : JVal::kArray);
      skipBlanks();
      if (peek() == closerOf(container)) {
        ++pos_;
        return container;
      }
      open.push_back({std::move(container), {}});
      if (open.back().value.isObject()) readKey(open.back().key);
      return std::nullopt;
    }
    if (c == '"') {
      JVal v(JVal::kString);
      v.string = readString();
      return v;
    }
    return literalOrNumber();
  }

  JVal literalOrNumber() {
    JVal v;
    if (startsWith("true") || startsWith("false")) {
      v.kind = JVal::kBool;
      v.boolean = text_[pos_] == 't';
      pos_ += v.boolean ? 4 : 5;
      return v;
    }
    if (startsWith("null")) {
      pos_ += 4;
      return v;
    }
    const char* begin = text_.c_str() + pos_;
    char* end = nullptr;
    v.kind = JVal::kNumber;
    v.number = std::strtod(begin, &end);
    if (end == begin) throw std::runtime_error("teeth: bad JSON number");
    pos_ += static_cast<size_t>(end - begin);
    return v;
  }

  // The opening character is taken as the quote whatever it is; the string ends at an unescaped
  // quote or at the end of the text.
  std::string readString() {
    std::string out;
    if (!atEnd()) ++pos_;
    while (!atEnd() && text_[pos_] != '"') {
      if (text_[pos_] != '\\') {
        out += text_[pos_++];
        continue;
      }
      ++pos_;
      if (atEnd()) return out;
      out += unescape();
    }
    if (!atEnd()) ++pos_;
    return out;
  }

  // The character after a backslash, consumed with whatever it swallows.
  char unescape() {
    const char c = text_[pos_++];
    switch (c) {
      case 'b': return '\b';
      case 'f': return '\f';
      case 'n': return '\n';
      case 'r': return '\r';
      case 't': return '\t';
      case 'u':
        if (text_.size() - (pos_ - 1) >= 5) pos_ += 4;
        return '?';
      default: return c;
    }
  }

  void readKey(std::string& key) {
    skipBlanks();
    key = readString();
    skipBlanks();
    if (peek() == ':') ++pos_;
  }

  static void append(OpenContainer& top, JVal value) {
    if (top.value.isObject()) top.value.object.emplace_back(std::move(top.key), std::move(value));
    else top.value.array.push_back(std::move(value));
  }

  // After a member: true when the container is closed, false when another member follows (its key
  // already read for an object).
  bool nextMember(OpenContainer& top) {
    skipBlanks();
    if (peek() == ',') {
      ++pos_;
      if (top.value.isObject()) readKey(top.key);
      return false;
    }
    if (peek() == closerOf(top.value)) {
      ++pos_;
      return true;
    }
    throw std::runtime_error(top.value.isObject() ? "teeth: malformed JSON object" : "teeth: malformed JSON array");
  }

  const std::string text_;
  size_t pos_ = 0;
};

}  // namespace

JVal parse(std::string_view text) { return Reader(text).document(); }

}  // namespace le::tessera::json
