// Reading the keys of a2x_meta.json.
#include "audio/a2x_meta.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace le {
namespace {

TEST(A2xMeta, ReadsEveryKey) {
  const A2xMeta m = parseA2xMeta(
      R"({"h": 64, "window": 2, "left": 8, "layers": 3, "width": true, "silence_prime": 40})");
  EXPECT_EQ(m.h, 64);
  EXPECT_EQ(m.window, 2);
  EXPECT_EQ(m.left, 8);
  EXPECT_EQ(m.layers, 3);
  EXPECT_TRUE(m.width);
  EXPECT_EQ(m.silencePrime, 40);
}

TEST(A2xMeta, AbsentKeysKeepTheirDefaults) {
  const A2xMeta m = parseA2xMeta(R"({"window": 0})");
  EXPECT_EQ(m.h, 256);
  EXPECT_EQ(m.window, 0);
  EXPECT_EQ(m.left, -1);
  EXPECT_EQ(m.layers, 6);
  EXPECT_FALSE(m.width);
  EXPECT_EQ(m.silencePrime, 0);
}

// Found by fuzzing: "layers": -2147483649 came back as 2147483647 layers.
TEST(A2xMeta, RefusesIntegersNoIntHoldsInsteadOfFoldingThem) {
  for (const char* text : {R"({"layers": -2147483649, "window": 1, "left": 3})", R"({"h": 4294967312})",
                           R"({"silence_prime": 99999999999999999999})"}) {
    try {
      parseA2xMeta(text);
      ADD_FAILURE() << "read " << text;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("a2x_meta.json: ", 0), 0u) << e.what();
      EXPECT_NE(std::string(e.what()).find(" out of range"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(parseA2xMeta(R"({"h": 2147483647, "layers": -2147483648, "window": 0, "left": 1})").layers, INT_MIN);
}

TEST(A2xMeta, RefusesLayersWhoseFrameSpansNoIntHolds) {
  EXPECT_THROW(parseA2xMeta(R"({"layers": 65536, "window": 1, "left": 32768})"), std::runtime_error);
  EXPECT_THROW(parseA2xMeta(R"({"layers": 3, "window": 1000000000, "left": 0})"), std::runtime_error);
  const A2xMeta m = parseA2xMeta(R"({"layers": 65535, "window": 32768, "left": 32768})");
  EXPECT_EQ(int64_t(m.layers) * m.left, 2147450880);
}

struct WidthCase {
  const char* text;
  bool width;
};

class A2xMetaWidth : public testing::TestWithParam<WidthCase> {};

TEST_P(A2xMetaWidth, IsTrueForTrueOrANonZeroInteger) {
  EXPECT_EQ(parseA2xMeta(GetParam().text).width, GetParam().width) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, A2xMetaWidth,
                         testing::Values(WidthCase{R"({"width":true})", true},
                                         WidthCase{"{\"width\": \t false}", false},
                                         WidthCase{R"({"width": 1})", true}, WidthCase{R"({"width": 0})", false},
                                         WidthCase{R"({"width": 7})", true}, WidthCase{R"({"h": 1})", false}),
                         [](const testing::TestParamInfo<WidthCase>& info) { return "text" + std::to_string(info.index); });

}  // namespace
}  // namespace le
