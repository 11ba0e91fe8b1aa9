#include "tessera/bank_encoding.h"

#include <gtest/gtest.h>

#include "tessera/errors.h"
#include "tessera/json_reader.h"

namespace le::tessera {
namespace {

using le::test::errorOf;

BankSidecar sidecarWithCodec(const std::string& codec, const std::string& pixFmt) {
  BankSidecar s;
  s.codec = codec;
  s.pix_fmt = pixFmt;
  return s;
}

TEST(BankEncoding, DefaultsComeFromTheSidecarAndTheFixedNames) {
  const BankEncoding e = bankEncoding(ManifestTessera(), sidecarWithCodec("h264", "yuv444p"), "/b", "s.json");
  EXPECT_EQ(e.container, "mp4");
  EXPECT_EQ(e.codec, "h264");
  EXPECT_EQ(e.pix_fmt, "yuv444p");
  EXPECT_EQ(e.packing, "rgb24_frames");
}

TEST(BankEncoding, TheManifestBlockOverridesEachString) {
  const ManifestTessera block = readManifestTessera(json::parse(
      R"({"tessera": {"bank_container": "mkv", "bank_codec": "ffv1", "bank_pix_fmt": "rgb24", "bank_packing": "p"}})"));
  const BankEncoding e = bankEncoding(block, sidecarWithCodec("h264", "yuv444p"), "/b", "s.json");
  EXPECT_EQ(e.container, "mkv");
  EXPECT_EQ(e.codec, "ffv1");
  EXPECT_EQ(e.pix_fmt, "rgb24");
  EXPECT_EQ(e.packing, "p");
}

TEST(BankEncoding, RefusesWhenNoPixelFormatResults) {
  const std::string refusal =
      "/bundles/ada: neither manifest.tessera.bank_pix_fmt nor tessera_bank.v1.json.codec.pix_fmt states the "
      "reference track's pixel format. A decoder handed no format negotiates one, and the one it settles on is 4:2:0 "
      "— lossy chroma on reference pixels IS the borrow degrading. Refusing rather than letting it guess.";
  const auto refusalOf = [](const ManifestTessera& block, const BankSidecar& sidecar) {
    return errorOf([&] { bankEncoding(block, sidecar, "/bundles/ada", "tessera_bank.v1.json"); });
  };
  EXPECT_EQ(refusalOf(ManifestTessera(), sidecarWithCodec("h264", "")), refusal);
  // A stated empty string is not absence: it overrides the sidecar's format and is refused.
  const ManifestTessera emptyStated = readManifestTessera(json::parse(R"({"tessera": {"bank_pix_fmt": ""}})"));
  EXPECT_EQ(refusalOf(emptyStated, sidecarWithCodec("h264", "yuv444p")), refusal);
  const ManifestTessera stated = readManifestTessera(json::parse(R"({"tessera": {"bank_pix_fmt": "rgb24"}})"));
  EXPECT_EQ(refusalOf(stated, sidecarWithCodec("", "")), "");
}

}  // namespace
}  // namespace le::tessera
