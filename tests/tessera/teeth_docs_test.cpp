// The baker's teeth documents for the test person, read the way a bundle's are: the valid set
// passes every reader, and each spoiled variant is refused with its own text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"
#include "tessera/bank_encoding.h"
#include "tessera/errors.h"
#include "tessera/json_access.h"
#include "tessera/serve_config.h"

namespace le::tessera {
namespace {

using le::test::errorOf;

const char* const kSidecar = "tessera_bank.v1.json";

// The documents are written once per run by the baker module.
const le::test::TempDir& docsDir() {
  static const le::test::TempDir dir;
  static const int status = std::system(
      ("/usr/bin/python3 " LE_SOURCE_DIR "/tools/bake/teeth_docs.py " + dir.path() + " --preset test").c_str());
  EXPECT_EQ(status, 0) << "tools/bake/teeth_docs.py failed";
  return dir;
}

std::string docText(const std::string& variant, const std::string& file) {
  return le::test::readFile(docsDir() / (variant + "/" + file));
}

struct Read {
  BankSidecar sidecar;
  BankEncoding encoding;
};

Read readBank(const std::string& variant) {
  const std::string manifestPath = docsDir() / (variant + "/manifest.json");
  const json::JVal sidecar = json::parseNamed(docText(variant, kSidecar), kSidecar);
  const json::JVal manifest = json::parseNamed(le::test::readFile(manifestPath), manifestPath);
  Read read;
  read.sidecar = readBankSidecar(sidecar, manifest, kSidecar);
  read.encoding = bankEncoding(readManifestTessera(manifest), read.sidecar, docsDir() / variant, kSidecar);
  return read;
}

std::string bankRefusal(const std::string& variant) {
  return errorOf([&] { readBank(variant); });
}

std::string stampRefusal(const std::string& variant) {
  return errorOf([&] { readBank(variant).sidecar.stamp.validate(); });
}

std::string headRefusal(const std::string& variant) {
  return errorOf([&] { ServeConfig::fromHeadMemberJson(docText(variant, "tessera_head.v1.json")); });
}

TEST(TeethDocs, ValidDocumentsDescribeTheTestPersonsMouth) {
  const Read read = readBank("valid");
  const GeometryStamp& s = read.sidecar.stamp;
  EXPECT_EQ(s.canvas_w, 64);
  EXPECT_EQ(s.canvas_h, 64);
  EXPECT_EQ(s.describe(),
            "{canvas_w=64, canvas_h=64, window_x0=24, window_y0=38, window_w=15, window_h=11, pad=2, band_r0=2, "
            "band_r1=9, band_c0=2, band_c1=13, shift_margin=1}");
  EXPECT_EQ(stampRefusal("valid"), "");
  EXPECT_EQ(read.sidecar.n_donors, 16);
  EXPECT_EQ(read.sidecar.band_w * read.sidecar.band_h, 13 * 9);
  EXPECT_EQ(read.encoding.container, "mp4");
  EXPECT_EQ(read.encoding.codec, "h264");
  EXPECT_EQ(read.encoding.pix_fmt, "yuv444p");
  EXPECT_EQ(read.encoding.packing, "rgb24_frames");
  for (double c : read.sidecar.cent) EXPECT_TRUE(c > 20 && c < 50) << c;

  const ServeConfig config = ServeConfig::fromHeadMemberJson(docText("valid", "tessera_head.v1.json"));
  EXPECT_LE(config.kshort, read.sidecar.n_donors);
  EXPECT_LE(config.K, config.cut);
  EXPECT_LE(config.lookahead, config.K);
}

TEST(TeethDocs, TheCapItselfIsAccepted) {
  EXPECT_EQ(bankRefusal("donors-1024"), "");
  EXPECT_EQ(readBank("donors-1024").sidecar.track_order.size(), 1024u);
}

TEST(TeethDocs, EachSpoiledSidecarIsRefusedWithItsText) {
  const std::pair<const char*, std::string> cases[] = {
      {"sidecar-v2", std::string(kSidecar) + " declares format 'tessera_bank.v2', not 'tessera_bank.v1'"},
      {"donors-1025", std::string(kSidecar) + " carries n_donors=1025, over the owner's cap of 1024 (ruling"},
      {"order-repeat", std::string(kSidecar) + " track_order is not a permutation (reference "},
      {"order-outside", std::string(kSidecar) + " track_order[1]=16 is outside [0,16)"},
      {"geometry-disagrees", "teeth geometry DISAGREES between the manifest and the bank sidecar — manifest "
                             "{canvas_w=64, canvas_h=64, window_x0=24, window_y0=39,"},
      {"several-faults", "teeth geometry DISAGREES between the manifest and the bank sidecar"},
      {"no-pix-fmt", docsDir() / "no-pix-fmt: neither manifest.tessera.bank_pix_fmt nor tessera_bank.v1.json.codec"},
  };
  for (const auto& [variant, start] : cases) EXPECT_EQ(bankRefusal(variant).rfind(start, 0), 0u) << variant;
  EXPECT_EQ(bankRefusal("stamp-escapes"), "");
  EXPECT_EQ(stampRefusal("stamp-escapes"), "teeth: GeometryStamp incoherent: window x-range escapes canvas;");
}

TEST(TeethDocs, EachSpoiledHeadConfigIsRefusedWithItsText) {
  EXPECT_EQ(headRefusal("valid"), "");
  EXPECT_EQ(headRefusal("head-no-temporal"),
            "teeth: tessera_head.v1 config lacks the retrieval/temporal blocks of the v1 schema — refusing to serve "
            "defaults (W3-01)");
  EXPECT_EQ(headRefusal("head-bad-envelope"),
            "teeth: member envelope_clamp_255 != the envelope of record (12/255) — the envelope is a gated quantity");
}

}  // namespace
}  // namespace le::tessera
