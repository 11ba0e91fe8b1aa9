#include "tessera/bank_sidecar.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tessera/errors.h"
#include "tessera/json_reader.h"

namespace le::tessera {
namespace {

using le::test::errorOf;

const char* const kName = "tessera_bank.v1.json";
const char* const kStamp =
    R"({"canvas_w": 64, "canvas_h": 64, "window_x0": 24, "window_y0": 38, "window_w": 15, "window_h": 11,
        "pad": 2, "band_r0": 2, "band_r1": 9, "band_c0": 2, "band_c1": 13, "shift_margin": 1})";
const char* const kStampText =
    "{canvas_w=64, canvas_h=64, window_x0=24, window_y0=38, window_w=15, window_h=11, pad=2, band_r0=2, band_r1=9, "
    "band_c0=2, band_c1=13, shift_margin=1}";

// A three-donor sidecar, member by member; a member set to "" is left out.
struct Sidecar {
  std::map<std::string, std::string> members = {
      {"format", "\"tessera_bank.v1\""}, {"geometry", kStamp},      {"n_donors", "3"},
      {"track_order", "[2, 0, 1]"},      {"cent", "[[1, 2], [3, 4], [5, 6]]"},
      {"aperture", "[0.5, 1.5, 2.5]"},   {"c_canon", "[31.5, 43]"}, {"codec", R"({"codec": "h264", "pix_fmt": "yuv444p"})"}};

  Sidecar& set(const std::string& key, const std::string& value) {
    members[key] = value;
    return *this;
  }
  std::string text() const {
    std::string out;
    for (const auto& [key, value] : members)
      if (!value.empty()) out += (out.empty() ? "{" : ", ") + ("\"" + key + "\": ") + value;
    return out + "}";
  }
};

BankSidecar read(const Sidecar& sidecar, const std::string& manifest = "{}") {
  return readBankSidecar(json::parse(sidecar.text()), json::parse(manifest), kName);
}

std::string refusalOf(const Sidecar& sidecar, const std::string& manifest = "{}") {
  return errorOf([&] { read(sidecar, manifest); });
}

std::string name(const std::string& rest) { return kName + rest; }

TEST(BankSidecar, ReadsEveryMember) {
  const BankSidecar s = read(Sidecar());
  EXPECT_EQ(s.stamp.window_x0, 24);
  EXPECT_EQ(s.band_w, 13);
  EXPECT_EQ(s.band_h, 9);
  EXPECT_EQ(s.n_donors, 3);
  EXPECT_EQ(s.track_order, (std::vector<int32_t>{2, 0, 1}));
  EXPECT_EQ(s.cent, (std::vector<double>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(s.aperture, (std::vector<double>{0.5, 1.5, 2.5}));
  EXPECT_EQ(s.c_canon, (std::array<double, 2>{31.5, 43}));
  EXPECT_EQ(s.codec, "h264");
  EXPECT_EQ(s.pix_fmt, "yuv444p");
}

TEST(BankSidecar, ElementsOfAnotherKindReadAsZeroAndTheCodecBlockIsOptional) {
  const BankSidecar s = read(Sidecar()
                                 .set("track_order", "[\"x\", 2.9, 1]")
                                 .set("cent", "[[null, 2], [3, \"4\"], [5, 6]]")
                                 .set("aperture", "[true, 1, {}]")
                                 .set("codec", "\"h264\""));
  EXPECT_EQ(s.track_order, (std::vector<int32_t>{0, 2, 1}));
  EXPECT_EQ(s.cent, (std::vector<double>{0, 2, 3, 0, 5, 6}));
  EXPECT_EQ(s.aperture, (std::vector<double>{0, 1, 0}));
  EXPECT_EQ(s.codec, "");
  EXPECT_EQ(s.pix_fmt, "");
}

TEST(BankSidecar, FormatIsCheckedFirst) {
  const std::string v2 = name(" declares format 'tessera_bank.v2', not 'tessera_bank.v1' — this reader does not know "
                              "that generation and will not guess at its keys.");
  EXPECT_EQ(refusalOf(Sidecar().set("format", "\"tessera_bank.v2\"")), v2);
  EXPECT_EQ(refusalOf(Sidecar().set("format", "\"tessera_bank.v2\"").set("geometry", "").set("n_donors", "1025")), v2);
  EXPECT_EQ(refusalOf(Sidecar().set("format", "")),
            name(" declares format '', not 'tessera_bank.v1' — this reader does not know that generation and will not "
                 "guess at its keys."));
  EXPECT_EQ(errorOf([] { readBankSidecar(json::parse("[1]"), json::parse("{}"), kName); }).find(" declares format ''"),
            std::string(kName).size());
}

TEST(BankSidecar, GeometryMustBeAStampOfTwelveNumbers) {
  EXPECT_EQ(refusalOf(Sidecar().set("geometry", "")), name(" carries no `geometry` stamp"));
  EXPECT_EQ(refusalOf(Sidecar().set("geometry", "[]")), name(" carries no `geometry` stamp"));
  EXPECT_EQ(refusalOf(Sidecar().set("geometry", R"({"canvas_w": 64})")),
            "teeth: tessera_bank.v1.json.geometry lacks numeric 'canvas_h'");
}

TEST(BankSidecar, ManifestGeometryMustAgreeWhenItIsAnObject) {
  const std::string agreeing = std::string(R"({"tessera": {"geometry": )") + kStamp + "}}";
  EXPECT_EQ(read(Sidecar(), agreeing).stamp.window_w, 15);
  EXPECT_EQ(read(Sidecar(), R"({"tessera": {"geometry": [1, 2]}})").n_donors, 3);
  EXPECT_EQ(read(Sidecar(), R"({"tessera": [1]})").n_donors, 3);

  std::string moved = agreeing;
  moved.replace(moved.find("\"window_y0\": 38"), 15, "\"window_y0\": 39");
  EXPECT_EQ(refusalOf(Sidecar(), moved),
            "teeth geometry DISAGREES between the manifest and the bank sidecar — manifest {canvas_w=64, canvas_h=64, "
            "window_x0=24, window_y0=39, window_w=15, window_h=11, pad=2, band_r0=2, band_r1=9, band_c0=2, band_c1=13, "
            "shift_margin=1} vs tessera_bank.v1.json " + std::string(kStampText) +
                "; refusing to place a window on a rectangle the two halves of the bundle do not agree on.");
  EXPECT_EQ(refusalOf(Sidecar(), R"({"tessera": {"geometry": {"canvas_w": 64}}})"),
            "teeth: manifest.tessera.geometry lacks numeric 'canvas_h'");
}

TEST(BankSidecar, StampMustYieldAPositiveStoredPatch) {
  std::string flat = kStamp;
  flat.replace(flat.find("\"band_c1\": 13"), 13, "\"band_c1\": 0");
  EXPECT_EQ(refusalOf(Sidecar().set("geometry", flat)), "teeth stamp yields a non-positive stored patch (0x9)");
}

TEST(BankSidecar, DonorCountBetweenOneAndTheCapInclusive) {
  EXPECT_EQ(refusalOf(Sidecar().set("n_donors", "0")), name(" says n_donors=0"));
  EXPECT_EQ(refusalOf(Sidecar().set("n_donors", "-3")), name(" says n_donors=-3"));
  EXPECT_EQ(refusalOf(Sidecar().set("n_donors", "0.9")), name(" says n_donors=0"));
  EXPECT_EQ(refusalOf(Sidecar().set("n_donors", "\"3\"")), "teeth: tessera_bank.v1.json lacks numeric 'n_donors'");
  const std::string overCap =
      " (ruling 2026-08-28). This reader REFUSES rather than capping: the selector is the bank's BUILD-time cap "
      "selector, and a second one here would change which donors reach the mouth while every count-based check "
      "stayed green. Rebuild the bank.";
  EXPECT_EQ(refusalOf(Sidecar().set("n_donors", "1025")),
            name(" carries n_donors=1025, over the owner's cap of 1024" + overCap));
  EXPECT_EQ(refusalOf(Sidecar().set("n_donors", "1e300")),
            name(" carries n_donors=2147483647, over the owner's cap of 1024" + overCap));
  // 1024 passes the cap and reaches the count check.
  EXPECT_EQ(refusalOf(Sidecar().set("n_donors", "1024")),
            name(" says n_donors=1024 but carries track_order=3, cent=3, aperture=3 — a count mismatch silently "
                 "mis-orders the donors."));
}

TEST(BankSidecar, DonorArraysMustBeArraysOfTheRightLength) {
  const std::string lacks = name(" lacks one of track_order/cent/aperture/c_canon as an array");
  for (const char* key : {"track_order", "cent", "aperture", "c_canon"}) {
    EXPECT_EQ(refusalOf(Sidecar().set(key, "")), lacks) << key;
    EXPECT_EQ(refusalOf(Sidecar().set(key, "{}")), lacks) << key;
  }
  EXPECT_EQ(refusalOf(Sidecar().set("cent", "[[1, 2]]").set("aperture", "[1, 2, 3, 4]")),
            name(" says n_donors=3 but carries track_order=3, cent=1, aperture=4 — a count mismatch silently "
                 "mis-orders the donors."));
  EXPECT_EQ(refusalOf(Sidecar().set("c_canon", "[1, 2, 3]")), name(" c_canon is not a pair"));
  EXPECT_EQ(refusalOf(Sidecar().set("c_canon", "[]")), name(" c_canon is not a pair"));
}

TEST(BankSidecar, TrackOrderMustBeAPermutation) {
  EXPECT_EQ(refusalOf(Sidecar().set("track_order", "[1, 1, 0]")),
            name(" track_order is not a permutation (reference 1 appears twice) — the inverse permutation would leave a "
                 "reference slot never written and the pass would blend uninitialised memory into a real mouth."));
  EXPECT_EQ(refusalOf(Sidecar().set("track_order", "[0, 3, 1]")), name(" track_order[1]=3 is outside [0,3)"));
  EXPECT_EQ(refusalOf(Sidecar().set("track_order", "[0, 1, -1]")), name(" track_order[2]=-1 is outside [0,3)"));
  EXPECT_EQ(read(Sidecar().set("track_order", "[-0.5, 2, 1]")).track_order, (std::vector<int32_t>{0, 2, 1}));
}

TEST(BankSidecar, CentresMustBePairs) {
  EXPECT_EQ(refusalOf(Sidecar().set("cent", "[[1, 2], [3], [5, 6]]")), name(" cent[1] is not an (x,y) pair"));
  EXPECT_EQ(refusalOf(Sidecar().set("cent", "[[1, 2], [3, 4], 5]")), name(" cent[2] is not an (x,y) pair"));
}

TEST(BankSidecar, SeveralFaultsReportTheFirstInCheckOrder) {
  const Sidecar all = Sidecar()
                          .set("track_order", "[1, 1, 0]")
                          .set("cent", "[[1], [3], [5]]")
                          .set("c_canon", "[1]")
                          .set("aperture", "[1]")
                          .set("n_donors", "0");
  std::string flat = kStamp;
  flat.replace(flat.find("\"band_c1\": 13"), 13, "\"band_c1\": 0");
  EXPECT_EQ(refusalOf(Sidecar(all).set("geometry", flat)), "teeth stamp yields a non-positive stored patch (0x9)");
  EXPECT_EQ(refusalOf(all), name(" says n_donors=0"));
  EXPECT_EQ(refusalOf(Sidecar(all).set("n_donors", "3")).find(" but carries track_order=3, cent=3, aperture=1"),
            name(" says n_donors=3").size());
  EXPECT_EQ(refusalOf(Sidecar(all).set("n_donors", "3").set("aperture", "[1,2,3]")), name(" c_canon is not a pair"));
  EXPECT_EQ(refusalOf(Sidecar(all).set("n_donors", "3").set("aperture", "[1,2,3]").set("c_canon", "[1,2]"))
                .find(" track_order is not a permutation"),
            std::string(kName).size());
  EXPECT_EQ(refusalOf(Sidecar(all).set("n_donors", "3").set("aperture", "[1,2,3]").set("c_canon", "[1,2]").set(
                "track_order", "[0,1,2]")),
            name(" cent[0] is not an (x,y) pair"));
}

}  // namespace
}  // namespace le::tessera
