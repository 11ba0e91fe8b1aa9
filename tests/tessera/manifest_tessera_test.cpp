#include "tessera/manifest_tessera.h"

#include <gtest/gtest.h>

#include "tessera/json_reader.h"

namespace le::tessera {
namespace {

ManifestTessera blockOf(const char* manifest) { return readManifestTessera(json::parse(manifest)); }

TEST(ManifestTessera, AbsentOrNotAnObjectIsUndeclared) {
  for (const char* text : {"{}", R"({"tessera": [1]})", R"({"tessera": "x"})", "[]"}) {
    const ManifestTessera b = blockOf(text);
    EXPECT_FALSE(b.declared) << text;
    EXPECT_FALSE(b.bank_pix_fmt.has_value()) << text;
    EXPECT_EQ(b.memberName("head_config", "tessera_head.v1.json"), "tessera_head.v1.json");
  }
}

TEST(ManifestTessera, RenamesOnlyByTheFirstNonEmptyStringOfASlot) {
  const ManifestTessera b = blockOf(
      R"({"tessera": {"members": {"bank_track": "t.mp4", "head_config": "", "head_weights": 3,
          "bank_sidecar": "", "bank_sidecar": "late.json", "bank_track": "second.mp4"}}})");
  EXPECT_TRUE(b.declared);
  EXPECT_EQ(b.memberName("bank_track", "d"), "t.mp4");
  EXPECT_EQ(b.memberName("head_config", "tessera_head.v1.json"), "tessera_head.v1.json");
  EXPECT_EQ(b.memberName("head_weights", "tessera_head.v1.pt"), "tessera_head.v1.pt");
  EXPECT_EQ(b.memberName("bank_sidecar", "tessera_bank.v1.json"), "tessera_bank.v1.json");
}

TEST(ManifestTessera, PlanesKeepStringsInOrderAndBankStringsOnlyWhenStrings) {
  const ManifestTessera b = blockOf(
      R"({"tessera": {"planes": ["realtime", 1, "offline", null], "bank_container": "mkv", "bank_codec": "",
          "bank_pix_fmt": 444, "bank_packing": "rgb24_frames", "members": [1]}})");
  EXPECT_EQ(b.planes, (std::vector<std::string>{"realtime", "offline"}));
  EXPECT_EQ(b.bank_container, "mkv");
  EXPECT_EQ(b.bank_codec, "");
  EXPECT_FALSE(b.bank_pix_fmt.has_value());
  EXPECT_EQ(b.bank_packing, "rgb24_frames");
  EXPECT_TRUE(b.members.empty());
}

}  // namespace
}  // namespace le::tessera
