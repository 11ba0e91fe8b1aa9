#include "tessera/json_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "tessera/errors.h"

namespace le::tessera::json {
namespace {

using le::test::errorOf;

std::string errorOfParse(const std::string& text) {
  return errorOf([&] { parse(text); });
}

TEST(JsonReader, ReadsEveryKindInDocumentOrder) {
  const JVal v = parse(" \t\r\n{\"n\": -1.5e2, \"s\": \"x\", \"t\": true, \"f\": false, \"z\": null, \"a\": [1, {}], \"o\": {}}");
  ASSERT_EQ(v.kind, JVal::kObject);
  ASSERT_EQ(v.object.size(), 7u);
  const char* keys[] = {"n", "s", "t", "f", "z", "a", "o"};
  const int32_t kinds[] = {JVal::kNumber, JVal::kString, JVal::kBool, JVal::kBool, JVal::kNull, JVal::kArray, JVal::kObject};
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(v.object[i].first, keys[i]);
    EXPECT_EQ(v.object[i].second.kind, kinds[i]) << keys[i];
  }
  EXPECT_EQ(v.find("n")->number, -150.0);
  EXPECT_EQ(v.find("s")->string, "x");
  EXPECT_TRUE(v.find("t")->boolean);
  EXPECT_FALSE(v.find("f")->boolean);
  EXPECT_EQ(v.find("a")->array.size(), 2u);
  EXPECT_EQ(v.find("a")->array[1].kind, JVal::kObject);
}

TEST(JsonReader, LookupSeesOnlyTheFirstOfARepeatedKey) {
  const JVal v = parse(R"({"k": 1, "k": 2})");
  EXPECT_EQ(v.object.size(), 2u);
  EXPECT_EQ(v.find("k")->number, 1.0);
  EXPECT_EQ(v.find("missing"), nullptr);
  EXPECT_EQ(parse("[1]").find("k"), nullptr);
}

TEST(JsonReader, ObjectQuirks) {
  // A missing colon reads as if it were there; the key's opening character is not checked.
  EXPECT_EQ(parse(R"({"a" 1})").find("a")->number, 1.0);
  EXPECT_EQ(parse(R"({xa": 2})").find("a")->number, 2.0);
  // Text after the value is never examined.
  EXPECT_EQ(parse("{} trailing ]]] garbage").kind, JVal::kObject);
  EXPECT_EQ(parse("7 8").number, 7.0);
}

TEST(JsonReader, StringQuirks) {
  EXPECT_EQ(parse(R"("a\b\f\n\r\tz")").string, "a\b\f\n\r\tz");
  EXPECT_EQ(parse(R"("\"\\\/\q")").string, "\"\\/q");
  EXPECT_EQ(parse(R"("x\u00e9y")").string, "x?y");
  // Five characters after the backslash are enough to skip four; fewer, and only the u goes.
  EXPECT_EQ(parse(R"("\u00e9)").string, "?");
  EXPECT_EQ(parse(R"("\u00e)").string, "?00e");
  EXPECT_EQ(parse("\"unterminated").string, "unterminated");
  EXPECT_EQ(parse("\"ends in \\").string, "ends in ");
  EXPECT_EQ(parse(std::string("\"a\0b\"", 5)).string, std::string("a\0b", 3));
}

TEST(JsonReader, LiteralsMatchAsPrefixes) {
  EXPECT_TRUE(parse("trueish").boolean);
  EXPECT_EQ(parse("falsehood").kind, JVal::kBool);
  EXPECT_EQ(parse("nullify").kind, JVal::kNull);
  EXPECT_EQ(parse("[true,false]").array.size(), 2u);
}

TEST(JsonReader, NumbersAreWhatStrtodAccepts) {
  EXPECT_EQ(parse("+12").number, 12.0);
  EXPECT_EQ(parse("0x10").number, 16.0);
  EXPECT_TRUE(std::isinf(parse("-inf").number));
  EXPECT_TRUE(std::isnan(parse("nan").number));
  EXPECT_TRUE(std::isinf(parse("1e999").number));
  EXPECT_EQ(parse("1e-999").number, 0.0);
  EXPECT_EQ(parse(std::string(5000, '9')).kind, JVal::kNumber);
}

TEST(JsonReader, RefusalTexts) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "teeth: JSON truncated"},
      {" \n\t", "teeth: JSON truncated"},
      {"[", "teeth: JSON truncated"},
      {"{", "teeth: JSON truncated"},
      {"{\"a\":", "teeth: JSON truncated"},
      {"[1,", "teeth: JSON truncated"},
      {"[1", "teeth: malformed JSON array"},
      {"[1 2]", "teeth: malformed JSON array"},
      {"[1}", "teeth: malformed JSON array"},
      {"{\"a\":1", "teeth: malformed JSON object"},
      {"{\"a\":1 \"b\":2}", "teeth: malformed JSON object"},
      {"{\"a\":1]", "teeth: malformed JSON object"},
      {"[1,]", "teeth: bad JSON number"},
      {"tru", "teeth: bad JSON number"},
      {"'a'", "teeth: bad JSON number"},
      {"{\"a\":}", "teeth: bad JSON number"},
      {"\v", "teeth: bad JSON number"},
  };
  for (const auto& [text, error] : cases) EXPECT_EQ(errorOfParse(text), error) << "text: " << text;
}

const std::set<std::string>& readerMessages() {
  static const std::set<std::string> messages = {"teeth: malformed JSON object", "teeth: malformed JSON array",
                                                 "teeth: bad JSON number", "teeth: JSON truncated"};
  return messages;
}

TEST(JsonReader, EveryTruncationIsReadOrRefusedWithAReaderMessage) {
  const std::string doc =
      R"({"format": "tessera_bank.v1", "geometry": {"canvas_w": 64, "pad": 2}, "n_donors": 3,
          "track_order": [2, 0, 1], "cent": [[1.5, -2e1], [0x1p2, inf], [3, 4]], "s": "a\"b\\c\u0041",
          "flags": [true, false, null], "e": {}, "x": []})";
  for (size_t len = 0; len <= doc.size(); ++len) {
    const std::string error = errorOfParse(doc.substr(0, len));
    if (!error.empty()) EXPECT_TRUE(readerMessages().count(error)) << len << ": " << error;
  }
  EXPECT_EQ(errorOfParse(doc), "");
}

TEST(JsonReader, DeepNestingNeitherOverflowsNorRecurses) {
  const size_t depth = 200000;
  const JVal arrays = parse(std::string(depth, '[') + std::string(depth, ']'));
  const JVal* v = &arrays;
  size_t seen = 1;
  while (!v->array.empty()) v = &v->array[0], ++seen;
  EXPECT_EQ(seen, depth);

  std::string objects;
  for (size_t i = 0; i < depth; ++i) objects += "{\"k\":";
  EXPECT_EQ(errorOfParse(objects), "teeth: JSON truncated");
  EXPECT_EQ(errorOfParse(objects + "1"), "teeth: malformed JSON object");
  EXPECT_EQ(parse(objects + "1" + std::string(depth, '}')).kind, JVal::kObject);
}

}  // namespace
}  // namespace le::tessera::json
