#include "tel/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace le::tel {
namespace {

// The replacement character's escape, written for each byte outside well-formed UTF-8.
constexpr std::string_view kReplacement = "\\ufffd";

// 2^63, the first double past the 64-bit signed range; -2^63 is the last double inside it at the
// other end. Both are exact in binary64, so the range test needs no cast.
constexpr double kInt64End = 9223372036854775808.0;

// Digits of the number format for values that are not whole within the 64-bit range.
constexpr int kSignificantDigits = 6;

void appendAscii(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (c) {
    case '"': out.append("\\\""); return;
    case '\\': out.append("\\\\"); return;
    case '\n': out.append("\\n"); return;
    case '\t': out.append("\\t"); return;
    default: break;
  }
  if (c < 0x20) {
    const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]};
    out.append(escape, sizeof escape);
  } else {
    out.push_back(static_cast<char>(c));
  }
}

// Length (2 to 4) of the well-formed UTF-8 sequence that starts at text[at], or 0 when none does.
// The second byte's range excludes overlong forms (after E0 and F0), surrogates (after ED) and
// code points past U+10FFFF (after F4); C0, C1 and F5 to FF never lead.
size_t utf8SequenceLength(std::string_view text, size_t at) {
  const auto byteAt = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byteAt(0);
  size_t length = 0;
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) secondLow = 0xa0;
    if (lead == 0xed) secondHigh = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) secondLow = 0x90;
    if (lead == 0xf4) secondHigh = 0x8f;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byteAt(1) < secondLow || byteAt(1) > secondHigh) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byteAt(i) < 0x80 || byteAt(i) > 0xbf) return 0;
  }
  return length;
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
  out.push_back('"');
  size_t at = 0;
  while (at < text.size()) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
      appendAscii(out, c);
      ++at;
      continue;
    }
    const size_t length = utf8SequenceLength(text, at);
    if (length == 0) {
      out.append(kReplacement);
      ++at;
    } else {
      out.append(text.substr(at, length));
      at += length;
    }
  }
  out.push_back('"');
}

void appendJsonNumber(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out.append("null");
    return;
  }
  char digits[32];
  std::to_chars_result written;
  if (value >= -kInt64End && value < kInt64End && value == std::trunc(value)) {
    written = std::to_chars(digits, digits + sizeof digits, static_cast<int64_t>(value));
  } else {
    written = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, kSignificantDigits);
  }
  out.append(digits, written.ptr);
}

}  // namespace le::tel
