// The teeth members of a bundle: the carriage with its renames, the all-or-nothing ruling, the
// loaded record, and the reorder of a track into donor order.
#include "tessera/teeth_members.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tessera/errors.h"

namespace le {
namespace {

using le::test::errorOf;
using le::test::readFile;
using le::test::writeFile;

// The baker's documents for the test person, written once per run.
const le::test::TempDir& docs() {
  static const le::test::TempDir dir;
  static const int status = std::system(
      ("/usr/bin/python3 " LE_SOURCE_DIR "/tools/bake/teeth_docs.py " + dir.path() + " --preset test").c_str());
  EXPECT_EQ(status, 0);
  return dir;
}

// A bundle holding the documents of a variant and the two binary members (their bytes are not read
// by the loader beyond copying the head).
struct TeethBundle {
  explicit TeethBundle(const std::string& variant = "valid", bool binaries = true) {
    for (const char* file : {"manifest.json", "tessera_bank.v1.json", "tessera_head.v1.json"})
      writeFile(dir / file, readFile(docs() / (variant + "/" + file)));
    if (!binaries) return;
    writeFile(dir / "tessera_bank.v1.mp4", "track");
    writeFile(dir / "tessera_head.v1.pt", std::string("PK\0\1head", 8));
  }
  le::test::TempDir dir;
};

TEST(TeethCarriage, AllFourDefaultMembersAreCompleteAndSlotsKeepTheirOrder) {
  TeethBundle b;
  const TesseraCarriage c = tesseraCarriage(b.dir.path());
  EXPECT_TRUE(c.complete);
  EXPECT_TRUE(c.declared);
  EXPECT_EQ(c.planes, (std::vector<std::string>{"realtime", "offline"}));
  EXPECT_EQ(c.path("head_config"), b.dir / "tessera_head.v1.json");
  EXPECT_EQ(tesseraSlotCount(), 4);
  EXPECT_STREQ(tesseraSlotKeys()[2], "head_weights");
  EXPECT_EQ(errorOf([&] { c.path("bank"); }), "teeth: no such member slot 'bank'");
  requireTesseraMembers(c);
}

TEST(TeethCarriage, RenamesAreTakenOnlyFromNonEmptyStrings) {
  TeethBundle b;
  writeFile(b.dir / "manifest.json",
            R"({"tessera": {"members": {"head_config": "", "bank_sidecar": 7, "head_weights": "w.pt",
                "head_weights": "ignored.pt"}}})");
  const TesseraCarriage c = tesseraCarriage(b.dir.path());
  EXPECT_EQ(c.names[3], "tessera_head.v1.json");
  EXPECT_EQ(c.names[1], "tessera_bank.v1.json");
  EXPECT_EQ(c.names[2], "w.pt");
  EXPECT_EQ(c.missing, (std::vector<std::string>{"head_weights"}));
  // A manifest that does not parse counts as absent: defaults, not declared.
  writeFile(b.dir / "manifest.json", "{\"tessera\": [");
  const TesseraCarriage plain = tesseraCarriage(b.dir.path());
  EXPECT_FALSE(plain.declared);
  EXPECT_TRUE(plain.complete);
}

TEST(TeethCarriage, TheRulingListsWhatIsMissingAndWhatIsDeclared) {
  TeethBundle b("valid", false);
  try {
    requireTesseraMembers(tesseraCarriage(b.dir.path()));
    ADD_FAILURE();
  } catch (const MissingTesseraMember& e) {
    EXPECT_EQ(e.missing(), (std::vector<std::string>{"bank_track", "head_weights"}));
    EXPECT_EQ(std::string(e.what()),
              "missing teeth member(s): bank_track (tessera_bank.v1.mp4), head_weights (tessera_head.v1.pt) \xe2\x80\x94 "
              "carries 2 of 4 and declares a manifest.tessera block the members do not keep. ONE predicate (owner "
              "ruling 2026-09-06): all four members present = ARMED on every plane; any missing = REFUSED on every "
              "plane. The borrow is a SWITCH, not a gradient \xe2\x80\x94 there is no rendering mode that proceeds "
              "without them (ombrine-2 IS borrowed teeth). Re-stage the bundle with the bank builder.");
  }
  // A directory in a member's place is not a member.
  TeethBundle d;
  std::remove((d.dir / "tessera_head.v1.pt").c_str());
  le::mkdirs(d.dir / "tessera_head.v1.pt");
  EXPECT_EQ(tesseraCarriage(d.dir.path()).missing, (std::vector<std::string>{"head_weights"}));
}

TEST(TeethMembers, LoadsTheValidatedRecord) {
  TeethBundle b;
  const TesseraAttachInputs in = loadTesseraMembers(b.dir.path());
  EXPECT_EQ(in.n_donors, 16);
  EXPECT_EQ(in.track_order.size(), 16u);
  EXPECT_EQ(in.cent.size(), 32u);
  EXPECT_EQ(in.band_w, in.stamp.band_c1 - in.stamp.band_c0 + 2 * in.stamp.shift_margin);
  EXPECT_EQ(in.head_pt, (std::vector<uint8_t>{'P', 'K', 0, 1, 'h', 'e', 'a', 'd'}));
  EXPECT_EQ(in.head_json, readFile(b.dir / "tessera_head.v1.json"));
  EXPECT_EQ(in.bank_track_path, b.dir / "tessera_bank.v1.mp4");
  EXPECT_FALSE(in.bank_pix_fmt.empty());
}

TEST(TeethMembers, RefusesInTheLoadingOrder) {
  TeethBundle missing("valid", false);
  EXPECT_THROW(loadTesseraMembers(missing.dir.path()), MissingTesseraMember);
  TeethBundle noManifest;
  std::remove((noManifest.dir / "manifest.json").c_str());
  EXPECT_EQ(errorOf([&] { loadTesseraMembers(noManifest.dir.path()); }),
            noManifest.dir.path() +
                " carries no manifest.json or meta.json \xe2\x80\x94 the compose descriptor (unified.pi) the pass "
                "places its window by lives there, and placing a borrow window without it is guessing.");
  TeethBundle broken;
  writeFile(broken.dir / "tessera_bank.v1.json", "[1, 2");
  EXPECT_EQ(errorOf([&] { loadTesseraMembers(broken.dir.path()); })
                .rfind("teeth: tessera_bank.v1.json is not readable JSON: ", 0),
            0u);
  TeethBundle v2("sidecar-v2");
  EXPECT_NE(errorOf([&] { loadTesseraMembers(v2.dir.path()); }), "");
}

// Sizes are claimed by sparse files: a member past its limit is refused before a buffer of its size
// exists.
TEST(TeethMembers, MembersPastTheirLimitAreRefusedBeforeTheyAreRead) {
  TeethBundle weights;
  std::filesystem::resize_file(weights.dir / "tessera_head.v1.pt", uintmax_t(1) << 33);
  EXPECT_EQ(errorOf([&] { loadTesseraMembers(weights.dir.path()); }),
            "teeth: " + weights.dir / "tessera_head.v1.pt" +
                " holds 8589934592 bytes, which exceeds the limit of 268435456 for head weights");
  TeethBundle sidecar;
  std::filesystem::resize_file(sidecar.dir / "tessera_bank.v1.json", uintmax_t(1) << 25);
  EXPECT_EQ(errorOf([&] { loadTesseraMembers(sidecar.dir.path()); }),
            "teeth: " + sidecar.dir / "tessera_bank.v1.json" +
                " holds 33554432 bytes, which exceeds the limit of 16777216 for a bank sidecar");
}

TEST(TeethMembers, ReorderPutsEachTrackFrameInItsDonorSlot) {
  TesseraAttachInputs in;
  in.n_donors = 3;
  in.band_w = 2;
  in.band_h = 1;
  in.track_order = {2, 0, 1};
  const std::vector<uint8_t> track = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2};
  std::vector<uint8_t> out(18, 9);
  reorderTrackToDonor(in, track.data(), out.data());
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(errorOf([&] { reorderTrackToDonor(in, nullptr, out.data()); }), "teeth: null band buffer");
  in.track_order = {0, 1};
  EXPECT_EQ(errorOf([&] { reorderTrackToDonor(in, track.data(), out.data()); }),
            "teeth: track_order does not match n_donors");
  in.track_order = {0, 1, 3};
  EXPECT_EQ(errorOf([&] { reorderTrackToDonor(in, track.data(), out.data()); }),
            "teeth: track_order entry out of range");
  in.band_w = 0;
  EXPECT_EQ(errorOf([&] { reorderTrackToDonor(in, track.data(), out.data()); }), "teeth: zero reference stride");
}

}  // namespace
}  // namespace le
