// The two writers every snapshot goes through: JSON strings from arbitrary bytes, JSON numbers
// from arbitrary doubles.
#include "tel/json_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

namespace le::tel {
namespace {

struct StringCase {
  const char* name;
  std::string bytes;
  std::string json;
  friend void PrintTo(const StringCase& c, std::ostream* os) { *os << c.name; }
};

class JsonString : public testing::TestWithParam<StringCase> {};

TEST_P(JsonString, WritesTheBytesAsOneValidString) {
  std::string out = "prefix:";
  appendJsonString(out, GetParam().bytes);
  EXPECT_EQ(out, "prefix:" + GetParam().json);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(Escapes, JsonString, testing::Values(
    StringCase{"Empty", "", R"("")"},
    StringCase{"QuoteBackslashLineFeedTabAndControl", "a\"b\\c\nd\te\x01" "f", R"("a\"b\\c\nd\te\u0001f")"},
    StringCase{"OtherControlsAsLowercaseHex", "\r\x1f\b\f", R"("\u000d\u001f\u0008\u000c")"},
    StringCase{"NulByte", "a\0b"s, R"("a\u0000b")"},
    StringCase{"SlashAndDeleteUnchanged", "/\x7f", "\"/\x7f\""}),
  [](const auto& info) { return std::string(info.param.name); });

// Well-formed UTF-8 passes unchanged; each byte outside it becomes \ufffd, and reading resumes at
// the next byte, so a cut sequence costs one replacement per byte it had.
INSTANTIATE_TEST_SUITE_P(Utf8, JsonString, testing::Values(
    StringCase{"TwoThreeAndFourByteSequencesKept", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\""},
    StringCase{"BoundaryCodePointsKept", "\xc2\x80\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf", "\"\xc2\x80\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf\""},
    StringCase{"StrayContinuationByte", "a\x80z", R"("a\ufffdz")"},
    StringCase{"ByteFF", "\xff", R"("\ufffd")"},
    StringCase{"LeadCutShortByAscii", "\xe2\x82" "A", R"("\ufffd\ufffdA")"},
    StringCase{"LeadAtTheEnd", "ok\xf0\x9f\x98", R"("ok\ufffd\ufffd\ufffd")"},
    StringCase{"OverlongSlash", "\xc0\xaf", R"("\ufffd\ufffd")"},
    StringCase{"OverlongThreeBytes", "\xe0\x80\xaf", R"("\ufffd\ufffd\ufffd")"},
    StringCase{"EncodedSurrogate", "\xed\xa0\x80", R"("\ufffd\ufffd\ufffd")"},
    StringCase{"PastU10FFFF", "\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},
    StringCase{"FiveByteForm", "\xf8\x88\x80\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd\ufffd")"},
    StringCase{"ValidAfterInvalid", "\xc3\xc3\xa9", "\"\\ufffd\xc3\xa9\""},
    StringCase{"EscapedControlInsideBrokenSequence", "\xe2\n", R"("\ufffd\n")"}),
  [](const auto& info) { return std::string(info.param.name); });

struct NumberCase {
  const char* name;
  double value;
  const char* json;
  friend void PrintTo(const NumberCase& c, std::ostream* os) { *os << c.name; }
};

class JsonNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(JsonNumber, WritesIntegersWholeAndOthersWithSixDigits) {
  std::string out;
  appendJsonNumber(out, GetParam().value);
  EXPECT_EQ(out, GetParam().json);
}

constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(Values, JsonNumber, testing::Values(
    NumberCase{"WholeNumber", 1200, "1200"},
    NumberCase{"Fraction", 24.5, "24.5"},
    NumberCase{"Small", 1e-7, "1e-07"},
    NumberCase{"SixDigitsRounded", 1.0 / 3.0, "0.333333"},
    NumberCase{"NegativeWhole", -42, "-42"},
    NumberCase{"NegativeZeroAsZero", -0.0, "0"},
    NumberCase{"LowestInt64", -kTwoTo63, "-9223372036854775808"},
    NumberCase{"LargestDoubleBelowTwoTo63", 9223372036854774784.0, "9223372036854774784"},
    NumberCase{"TwoTo63IsPastTheRange", kTwoTo63, "9.22337e+18"},
    NumberCase{"BelowTheRange", -1e19, "-1e+19"},
    NumberCase{"Huge", 1e300, "1e+300"},
    NumberCase{"Largest", std::numeric_limits<double>::max(), "1.79769e+308"},
    NumberCase{"Subnormal", std::numeric_limits<double>::denorm_min(), "4.94066e-324"},
    NumberCase{"NaN", std::nan(""), "null"},
    NumberCase{"NegativeNaN", -std::nan(""), "null"},
    NumberCase{"Infinity", kInf, "null"},
    NumberCase{"NegativeInfinity", -kInf, "null"}),
  [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace le::tel
