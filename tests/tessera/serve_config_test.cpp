#include "tessera/serve_config.h"

#include <gtest/gtest.h>

#include <string>

#include "tessera/errors.h"

namespace le::tessera {
namespace {

using le::test::errorOf;

const char* const kW301 =
    "teeth: tessera_head.v1 config lacks the retrieval/temporal blocks of the v1 schema — refusing to serve defaults "
    "(W3-01)";
const char* const kEnvelope =
    "teeth: member envelope_clamp_255 != the envelope of record (12/255) — the envelope is a gated quantity";

std::string head(const std::string& retrieval, const std::string& temporal, const std::string& extra = "") {
  return "{\"retrieval\": " + retrieval + ", \"temporal\": " + temporal + extra + "}";
}

const char* const kRetrieval = R"({"kshort": 12.9, "aperture_tol": 0.25, "cut": 8, "K": -4.5})";
const char* const kTemporal = R"({"hysteresis": 2, "lookahead": 3})";

std::string refusalOf(const std::string& text) {
  return errorOf([&] { ServeConfig::fromHeadMemberJson(text); });
}

TEST(ServeConfig, DefaultsBeforeAnyHeadConfig) {
  const ServeConfig c;
  EXPECT_EQ(c.kshort, 512);
  EXPECT_EQ(c.aperture_tol, 0.3);
  EXPECT_EQ(c.cut, 96);
  EXPECT_EQ(c.K, 64);
  EXPECT_EQ(c.hysteresis, 8);
  EXPECT_EQ(c.lookahead, 8);
  EXPECT_EQ(c.teeth_luma_floor, 100.0);
  EXPECT_EQ(c.teeth_rg_tolerance, 25.0);
  EXPECT_EQ(c.min_teeth_pixels, 32);
  EXPECT_EQ(c.mask_carry, 0.6);
  EXPECT_TRUE(c.lookahead_enabled);
}

TEST(ServeConfig, ReadsTheSixSettingsTruncatingIntegers) {
  const ServeConfig c = ServeConfig::fromHeadMemberJson("\n  " + head(kRetrieval, kTemporal));
  EXPECT_EQ(c.kshort, 12);
  EXPECT_EQ(c.aperture_tol, 0.25);
  EXPECT_EQ(c.cut, 8);
  EXPECT_EQ(c.K, -4);
  EXPECT_EQ(c.hysteresis, 2);
  EXPECT_EQ(c.lookahead, 3);
  EXPECT_EQ(c.teeth_luma_floor, 100.0);
  // A present key of another kind is accepted and reads as 0.
  EXPECT_EQ(ServeConfig::fromHeadMemberJson(head(kRetrieval, R"({"hysteresis": "2", "lookahead": 3})")).hysteresis, 0);
}

TEST(ServeConfig, RefusesWithoutBothBlocksAsObjects) {
  EXPECT_EQ(refusalOf(head("[1]", kTemporal)), kW301);
  EXPECT_EQ(refusalOf(head(kRetrieval, "null")), kW301);
  EXPECT_EQ(refusalOf(std::string("{\"retrieval\": ") + kRetrieval + "}"), kW301);
  EXPECT_EQ(refusalOf("[]"), kW301);
  EXPECT_EQ(refusalOf("{\"retrieval\": [1"), "teeth: malformed JSON array");
}

TEST(ServeConfig, NamesTheFirstMissingKeyInReadingOrder) {
  EXPECT_EQ(refusalOf(head("{}", "{}")), "teeth: member JSON lacks key 'kshort'");
  EXPECT_EQ(refusalOf(head(R"({"kshort": 1, "cut": 8, "K": 4})", "{}")), "teeth: member JSON lacks key 'aperture_tol'");
  EXPECT_EQ(refusalOf(head(kRetrieval, R"({"lookahead": 3})")), "teeth: member JSON lacks key 'hysteresis'");
  EXPECT_EQ(refusalOf(head(kRetrieval, R"({"hysteresis": 2, "lookahead ": 3})")),
            "teeth: member JSON lacks key 'lookahead'");
  // A missing key is reported before a bad envelope.
  EXPECT_EQ(refusalOf(head(R"({"kshort": 1})", kTemporal, R"(, "decode": {"envelope_clamp_255": 3})")),
            "teeth: member JSON lacks key 'aperture_tol'");
}

TEST(ServeConfig, EnvelopeMustBeTwelveWhenStated) {
  const auto withDecode = [](const std::string& decode) { return head(kRetrieval, kTemporal, ", \"decode\": " + decode); };
  EXPECT_EQ(refusalOf(withDecode(R"({"envelope_clamp_255": 12.0000005})")), "");
  EXPECT_EQ(refusalOf(withDecode(R"({"envelope_clamp_255": 11.9999995})")), "");
  EXPECT_EQ(refusalOf(withDecode(R"({"envelope_clamp_255": 12.01})")), kEnvelope);
  EXPECT_EQ(refusalOf(withDecode(R"({"envelope_clamp_255": nan})")), kEnvelope);
  EXPECT_EQ(refusalOf(withDecode(R"({"envelope_clamp_255": "12"})")), kEnvelope);
  EXPECT_EQ(refusalOf(withDecode(R"({"other": 1})")), "");
  EXPECT_EQ(refusalOf(withDecode(R"([{"envelope_clamp_255": 3}])")), "");
}

}  // namespace
}  // namespace le::tessera
