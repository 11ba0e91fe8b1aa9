// A strict JSON reader for fuzz targets (RFC 8259): exactly one value with optional white space
// around it, strings of well-formed UTF-8 without raw control characters and without lone
// surrogate escapes, numbers by the grammar (no NaN, no Infinity, no leading zeros), nesting at
// most 64 deep. It also hands back every decoded string, object keys included, in text order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace le::fuzz {

class StrictJson {
 public:
  // True when text is valid JSON; the decoded strings are appended to strings.
  static bool parse(std::string_view text, std::vector<std::string>& strings) {
    StrictJson reader(text, strings);
    reader.skipSpace();
    if (!reader.value(0)) return false;
    reader.skipSpace();
    return reader.at_ == text.size();
  }

  // Length (1 to 4) of the well-formed UTF-8 sequence at text[at], or 0: decoded and range-checked
  // (no overlong form, no surrogate, nothing past U+10FFFF).
  static size_t utf8Length(std::string_view text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return 1;
    const size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 0;
    if (length == 0 || lead >= 0xf8 || text.size() - at < length) return 0;
    uint32_t code = lead & (0x7f >> length);
    for (size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[at + i]);
      if ((next & 0xc0) != 0x80) return 0;
      code = code << 6 | (next & 0x3f);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
    return length;
  }

 private:
  static constexpr int kMaxDepth = 64;

  StrictJson(std::string_view text, std::vector<std::string>& strings) : text_(text), strings_(strings) {}

  bool more() const { return at_ < text_.size(); }
  char peek() const { return more() ? text_[at_] : '\0'; }
  bool take(char c) {
    if (!more() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  void skipSpace() {
    while (more() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++at_;
  }
  bool literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  bool value(int depth) {
    if (depth > kMaxDepth) return false;
    switch (peek()) {
      case '{': return object(depth);
      case '[': return array(depth);
      case '"': return string();
      case 't': return literal("true");
      case 'f': return literal("false");
      case 'n': return literal("null");
      default: return number();
    }
  }

  bool object(int depth) {
    ++at_;
    skipSpace();
    if (take('}')) return true;
    do {
      skipSpace();
      if (peek() != '"' || !string()) return false;
      skipSpace();
      if (!take(':')) return false;
      skipSpace();
      if (!value(depth + 1)) return false;
      skipSpace();
    } while (take(','));
    return take('}');
  }

  bool array(int depth) {
    ++at_;
    skipSpace();
    if (take(']')) return true;
    do {
      skipSpace();
      if (!value(depth + 1)) return false;
      skipSpace();
    } while (take(','));
    return take(']');
  }

  bool digits() {
    const size_t start = at_;
    while (more() && peek() >= '0' && peek() <= '9') ++at_;
    return at_ > start;
  }

  bool number() {
    take('-');
    if (take('0')) {
      if (peek() >= '0' && peek() <= '9') return false;
    } else if (!digits()) {
      return false;
    }
    if (take('.') && !digits()) return false;
    if (take('e') || take('E')) {
      if (!take('+')) take('-');
      if (!digits()) return false;
    }
    return true;
  }

  bool hex4(uint32_t& unit) {
    if (text_.size() - at_ < 4) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) return false;
      unit = unit << 4 | static_cast<uint32_t>(digit);
    }
    return true;
  }

  static void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xc0 | code >> 6));
      out.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xe0 | code >> 12));
      out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3f)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    } else {
      out.push_back(static_cast<char>(0xf0 | code >> 18));
      out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3f)));
      out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3f)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    }
  }

  // \uXXXX, with a high surrogate followed by the escape of a low one.
  bool unicodeEscape(std::string& out) {
    uint32_t code;
    if (!hex4(code)) return false;
    if (code >= 0xdc00 && code <= 0xdfff) return false;
    if (code >= 0xd800 && code <= 0xdbff) {
      uint32_t low;
      if (!literal("\\u") || !hex4(low) || low < 0xdc00 || low > 0xdfff) return false;
      code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
    }
    appendUtf8(out, code);
    return true;
  }

  bool escape(std::string& out) {
    if (!more()) return false;
    const char c = text_[at_++];
    switch (c) {
      case '"': case '\\': case '/': out.push_back(c); return true;
      case 'b': out.push_back('\b'); return true;
      case 'f': out.push_back('\f'); return true;
      case 'n': out.push_back('\n'); return true;
      case 'r': out.push_back('\r'); return true;
      case 't': out.push_back('\t'); return true;
      case 'u': return unicodeEscape(out);
      default: return false;
    }
  }

  bool string() {
    ++at_;
    std::string decoded;
    while (more()) {
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') {
        ++at_;
        strings_.push_back(std::move(decoded));
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        ++at_;
        if (!escape(decoded)) return false;
        continue;
      }
      const size_t length = utf8Length(text_, at_);
      if (length == 0) return false;
      decoded.append(text_.substr(at_, length));
      at_ += length;
    }
    return false;
  }

  std::string_view text_;
  std::vector<std::string>& strings_;
  size_t at_ = 0;
};

}  // namespace le::fuzz
