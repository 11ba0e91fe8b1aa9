// Reading the keys of a2x_meta.json.
#include "audio/a2x_meta.h"

#include <gtest/gtest.h>

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
