// The teeth bank's C interface as a host uses it: slots, the carriage of a bundle, the members
// loaded and handed out, and the track put in donor order. Only the public header is used.
#include "le/le_tessera.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

std::string fixture(const std::string& name) { return std::string(LE_TEST_FIXTURES) + "/" + name; }

TEST(TesseraC, SlotsAreTheFourKeysInOrder) {
  ASSERT_EQ(le_tessera_slot_count(), 4);
  EXPECT_STREQ(le_tessera_slot_key(0), "bank_track");
  EXPECT_STREQ(le_tessera_slot_key(3), "head_config");
  EXPECT_EQ(le_tessera_slot_key(4), nullptr);
  EXPECT_EQ(le_tessera_slot_key(-1), nullptr);
}

TEST(TesseraC, CarriageOfACompleteBundle) {
  le_tessera_carriage* c = le_tessera_carriage_open(fixture("test").c_str());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(le_tessera_carriage_complete(c), 1);
  EXPECT_EQ(le_tessera_carriage_declared(c), 1);
  EXPECT_EQ(le_tessera_carriage_missing_count(c), 0);
  EXPECT_EQ(le_tessera_carriage_missing(c, 0), nullptr);
  EXPECT_EQ(std::string(le_tessera_carriage_path(c, "head_weights")), fixture("test") + "/tessera_head.v1.pt");
  EXPECT_STREQ(le_tessera_carriage_path(c, "bank"), "");
  EXPECT_STREQ(le_tessera_carriage_path(c, nullptr), "");
  le_tessera_carriage_close(c);
}

TEST(TesseraC, CarriageListsWhatABundleLacks) {
  le::test::TempDir dir;
  le::test::writeFile(dir / "manifest.json", le::test::readFile(fixture("test") + "/manifest.json"));
  le_tessera_carriage* c = le_tessera_carriage_open(dir.path().c_str());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(le_tessera_carriage_complete(c), 0);
  ASSERT_EQ(le_tessera_carriage_missing_count(c), 4);
  for (int32_t i = 0; i < 4; ++i) EXPECT_STREQ(le_tessera_carriage_missing(c, i), le_tessera_slot_key(i));
  EXPECT_EQ(le_tessera_carriage_missing(c, 4), nullptr);
  EXPECT_EQ(le_tessera_carriage_missing(c, -1), nullptr);
  le_tessera_carriage_close(c);
}

TEST(TesseraC, CarriageThatCannotBeWorkedOutStillOpensEmpty) {
  le::test::TempDir dir;
  le::test::writeFile(dir / "broken.imx", "IMX? not a container");
  le_tessera_carriage* c = le_tessera_carriage_open((dir / "broken.imx").c_str());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(le_tessera_carriage_complete(c), 0);
  EXPECT_EQ(le_tessera_carriage_declared(c), 0);
  EXPECT_EQ(le_tessera_carriage_missing_count(c), 0);
  EXPECT_STREQ(le_tessera_carriage_path(c, "bank_track"), "");
  le_tessera_carriage_close(c);
  EXPECT_EQ(le_tessera_carriage_open(nullptr), nullptr);
}

TEST(TesseraC, NullHandlesAnswerEmpty) {
  le_tessera_carriage_close(nullptr);
  le_tessera_members_close(nullptr);
  EXPECT_EQ(le_tessera_carriage_complete(nullptr), 0);
  EXPECT_STREQ(le_tessera_carriage_path(nullptr, "bank_track"), "");
  EXPECT_EQ(le_tessera_carriage_missing(nullptr, 0), nullptr);
  EXPECT_EQ(le_tessera_members_n_donors(nullptr), 0);
  EXPECT_EQ(le_tessera_members_band_bytes(nullptr), 0);
  EXPECT_EQ(le_tessera_members_stamp(nullptr), nullptr);
  EXPECT_EQ(le_tessera_members_cent(nullptr), nullptr);
  EXPECT_STREQ(le_tessera_members_head_json(nullptr), "");
  EXPECT_STREQ(le_tessera_members_bank_codec(nullptr), "");
}

TEST(TesseraC, MembersOfTheTestBundle) {
  char err[256] = "untouched";
  le_tessera_members* m = le_tessera_members_open(fixture("test").c_str(), err, sizeof err);
  ASSERT_NE(m, nullptr) << err;
  EXPECT_STREQ(err, "untouched");
  const int32_t n = le_tessera_members_n_donors(m);
  const int32_t* stamp = le_tessera_members_stamp(m);
  ASSERT_GT(n, 0);
  // The stored patch is the band grown by the shift margin on every side.
  EXPECT_EQ(le_tessera_members_band_w(m), stamp[10] - stamp[9] + 2 * stamp[11]);
  EXPECT_EQ(le_tessera_members_band_h(m), stamp[8] - stamp[7] + 2 * stamp[11]);
  EXPECT_EQ(le_tessera_members_band_bytes(m),
            int64_t(n) * le_tessera_members_band_w(m) * le_tessera_members_band_h(m) * 3);
  EXPECT_EQ(stamp[0], stamp[1]);
  EXPECT_NE(le_tessera_members_cent(m), nullptr);
  EXPECT_NE(le_tessera_members_aperture(m), nullptr);
  EXPECT_NE(le_tessera_members_c_canon(m), nullptr);
  EXPECT_EQ(std::string(le_tessera_members_head_json(m)),
            le::test::readFile(fixture("test") + "/tessera_head.v1.json"));
  const std::string pt = le::test::readFile(fixture("test") + "/tessera_head.v1.pt");
  ASSERT_EQ(le_tessera_members_head_pt_len(m), int32_t(pt.size()));
  EXPECT_EQ(std::memcmp(le_tessera_members_head_pt(m), pt.data(), pt.size()), 0);
  EXPECT_EQ(std::string(le_tessera_members_bank_track_path(m)), fixture("test") + "/tessera_bank.v1.mp4");
  EXPECT_STRNE(le_tessera_members_bank_codec(m), "");
  EXPECT_STRNE(le_tessera_members_manifest_json(m), "");
  le_tessera_members_close(m);
}

TEST(TesseraC, MembersRefuseAMissingMemberWithTheRulingCutToTheBuffer) {
  char full[1024] = "";
  EXPECT_EQ(le_tessera_members_open(fixture("test-teeth-missing-member").c_str(), full, sizeof full), nullptr);
  const std::string ruling = full;
  EXPECT_EQ(ruling.rfind("missing teeth member(s): head_config (tessera_head.v1.json)", 0), 0u) << ruling;
  char cut[17];
  std::memset(cut, 'x', sizeof cut);
  EXPECT_EQ(le_tessera_members_open(fixture("test-teeth-missing-member").c_str(), cut, sizeof cut), nullptr);
  EXPECT_EQ(std::string(cut), ruling.substr(0, 16));
  // No buffer, or a buffer of no size, is left alone.
  EXPECT_EQ(le_tessera_members_open(fixture("test-teeth-missing-member").c_str(), nullptr, 64), nullptr);
  EXPECT_EQ(le_tessera_members_open(fixture("test-teeth-missing-member").c_str(), cut, 0), nullptr);
  EXPECT_EQ(std::string(cut), ruling.substr(0, 16));
  EXPECT_EQ(le_tessera_members_open(nullptr, full, sizeof full), nullptr);
  EXPECT_STREQ(full, "le_tessera_members_open: null bundle_dir");
}

TEST(TesseraC, ReorderPutsTrackFramesInDonorOrder) {
  char err[256] = "";
  le_tessera_members* m = le_tessera_members_open(fixture("test").c_str(), err, sizeof err);
  ASSERT_NE(m, nullptr) << err;
  const size_t frameBytes = size_t(le_tessera_members_band_w(m)) * size_t(le_tessera_members_band_h(m)) * 3;
  const int32_t n = le_tessera_members_n_donors(m);
  std::vector<uint8_t> track(size_t(le_tessera_members_band_bytes(m)));
  for (int32_t i = 0; i < n; ++i) std::memset(track.data() + size_t(i) * frameBytes, i, frameBytes);
  std::vector<uint8_t> donors(track.size(), 0xff);
  ASSERT_EQ(le_tessera_members_reorder(m, track.data(), donors.data(), err, sizeof err), 0) << err;
  // Every track frame lands in exactly one donor slot, whole.
  std::vector<int> seen(size_t(n), 0);
  for (int32_t d = 0; d < n; ++d) {
    const uint8_t value = donors[size_t(d) * frameBytes];
    ASSERT_LT(value, n);
    ++seen[value];
    for (size_t b = 0; b < frameBytes; ++b) ASSERT_EQ(donors[size_t(d) * frameBytes + b], value);
  }
  for (int count : seen) EXPECT_EQ(count, 1);
  EXPECT_EQ(le_tessera_members_reorder(m, nullptr, donors.data(), err, sizeof err), 1);
  EXPECT_STREQ(err, "le_tessera_members_reorder: null argument");
  EXPECT_EQ(le_tessera_members_reorder(nullptr, track.data(), donors.data(), err, sizeof err), 1);
  le_tessera_members_close(m);
}

}  // namespace
