// The teeth bank's C interface as a host uses it: slots, the carriage of a bundle, the members
// loaded and handed out, and the track put in donor order. Only the public header is used.
#include "le/le_tessera.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tessera/bank_decoder.h"

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

// The test bank as a host holds it: the members, and the track decoded in track order and put in
// donor order through the members handle.
struct HostBank {
  explicit HostBank(const std::string& bundle) {
    char err[512] = "";
    members = le_tessera_members_open(bundle.c_str(), err, sizeof err);
    EXPECT_NE(members, nullptr) << err;
    if (!members) return;
    const int32_t n = le_tessera_members_n_donors(members);
    std::vector<int32_t> trackOrder(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) trackOrder[size_t(i)] = i;
    const std::string track = le::test::readFile(le_tessera_members_bank_track_path(members));
    const std::vector<uint8_t> inTrackOrder =
        le::tessera::decodeBankTrack(reinterpret_cast<const uint8_t*>(track.data()), track.size(), n,
                                     le_tessera_members_band_h(members), le_tessera_members_band_w(members), trackOrder);
    donors.resize(inTrackOrder.size());
    EXPECT_EQ(le_tessera_members_reorder(members, inTrackOrder.data(), donors.data(), err, sizeof err), 0) << err;
  }
  ~HostBank() { le_tessera_members_close(members); }
  HostBank(const HostBank&) = delete;
  HostBank& operator=(const HostBank&) = delete;

  int32_t run(const std::vector<uint8_t>& canvases, const std::vector<uint8_t>& pis, const int32_t* shifts,
              int32_t frames, std::vector<uint8_t>& out, std::vector<int32_t>& refused, char* err, int32_t errLen) {
    const le_tessera_members* m = members;
    return le_tessera_run_shift(donors.data(), le_tessera_members_n_donors(m), le_tessera_members_cent(m),
                                le_tessera_members_c_canon(m), le_tessera_members_aperture(m), le_tessera_members_stamp(m),
                                le_tessera_members_head_pt(m), le_tessera_members_head_pt_len(m),
                                le_tessera_members_head_json(m), canvases.data(), pis.data(), shifts, frames,
                                out.data(), refused.data(), err, errLen);
  }

  le_tessera_members* members = nullptr;
  std::vector<uint8_t> donors;
};

// Ten crops cycling through the baked cases, each with its pi mask.
struct Crops {
  Crops() {
    const std::string dir = fixture("teeth-crops") + "/";
    for (int f = 0; f < 10; ++f) {
      const std::string name = kNames[f % 4];
      const std::string rgb = le::test::readFile(dir + name + ".rgb.u8"), pi = le::test::readFile(dir + name + ".pi.u8");
      canvases.insert(canvases.end(), rgb.begin(), rgb.end());
      pis.insert(pis.end(), pi.begin(), pi.end());
      const bool shifted = f % 4 < 2;
      shifts.push_back(shifted ? 1 : 0);
      shifts.push_back(shifted ? -1 : 0);
    }
  }
  static constexpr const char* kNames[4] = {"shifted", "noisy", "narrow", "wide"};
  std::vector<uint8_t> canvases, pis;
  std::vector<int32_t> shifts;
};

TEST(TesseraC, AnOfflineRunOverTenCropsEmitsTenWindows) {
  HostBank bank(fixture("test-crop128"));
  ASSERT_NE(bank.members, nullptr);
  const Crops crops;
  const int32_t* stamp = le_tessera_members_stamp(bank.members);
  const size_t window = size_t(stamp[4]) * size_t(stamp[5]) * 3;
  std::vector<uint8_t> derived(10 * window, 0xab), given(10 * window, 0xcd);
  std::vector<int32_t> refused(10, 7);
  char err[512] = "";
  const le_tessera_members* m = bank.members;
  ASSERT_EQ(le_tessera_run(bank.donors.data(), le_tessera_members_n_donors(m), le_tessera_members_cent(m),
                           le_tessera_members_c_canon(m), le_tessera_members_aperture(m), stamp,
                           le_tessera_members_head_pt(m), le_tessera_members_head_pt_len(m),
                           le_tessera_members_head_json(m), crops.canvases.data(), crops.pis.data(), 10,
                           derived.data(), refused.data(), err, sizeof err),
            0)
      << err;
  EXPECT_EQ(refused, std::vector<int32_t>(10, 0));
  // The masks were drawn around the known shifts, so the derived shifts are the given ones.
  std::vector<int32_t> shifts = crops.shifts;
  shifts[2 * 9] = LE_TESSERA_NO_SHIFT;
  ASSERT_EQ(bank.run(crops.canvases, crops.pis, shifts.data(), 10, given, refused, err, sizeof err), 0) << err;
  EXPECT_EQ(given, derived);
}

TEST(TesseraC, AnOfflineRunRefusesWithItsText) {
  HostBank bank(fixture("test-crop128"));
  ASSERT_NE(bank.members, nullptr);
  const Crops crops;
  std::vector<uint8_t> out(10 * 64 * 64 * 3);
  std::vector<int32_t> refused(10);
  char err[512] = "";
  // A shift past the pad is refused frame by frame, not as a failure of the run.
  std::vector<int32_t> far = crops.shifts;
  far[0] = 1000;
  EXPECT_EQ(bank.run(crops.canvases, crops.pis, far.data(), 10, out, refused, err, sizeof err), 0) << err;
  EXPECT_EQ(refused[0], 1);
  EXPECT_EQ(refused[1], 0);
  const le_tessera_members* m = bank.members;
  EXPECT_EQ(le_tessera_run(bank.donors.data(), 0, le_tessera_members_cent(m), le_tessera_members_c_canon(m),
                           le_tessera_members_aperture(m), le_tessera_members_stamp(m), le_tessera_members_head_pt(m),
                           le_tessera_members_head_pt_len(m), le_tessera_members_head_json(m), crops.canvases.data(),
                           crops.pis.data(), 10, out.data(), refused.data(), err, sizeof err),
            1);
  EXPECT_STREQ(err, "teeth: n_donors <= 0");
  EXPECT_EQ(le_tessera_run(nullptr, 1, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, 1,
                           nullptr, nullptr, err, sizeof err),
            1);
  EXPECT_STREQ(err, "teeth: a required argument is null");
  std::vector<int32_t> badStamp(le_tessera_members_stamp(m), le_tessera_members_stamp(m) + 12);
  badStamp[4] = 0;  // a window of no width
  EXPECT_EQ(le_tessera_run(bank.donors.data(), le_tessera_members_n_donors(m), le_tessera_members_cent(m),
                           le_tessera_members_c_canon(m), le_tessera_members_aperture(m), badStamp.data(),
                           le_tessera_members_head_pt(m), le_tessera_members_head_pt_len(m),
                           le_tessera_members_head_json(m), crops.canvases.data(), crops.pis.data(), 10, out.data(),
                           refused.data(), err, sizeof err),
            1);
  EXPECT_NE(std::string(err), "");
  EXPECT_EQ(le_tessera_run(bank.donors.data(), le_tessera_members_n_donors(m), le_tessera_members_cent(m),
                           le_tessera_members_c_canon(m), le_tessera_members_aperture(m), le_tessera_members_stamp(m),
                           le_tessera_members_head_pt(m), 3, le_tessera_members_head_json(m), crops.canvases.data(),
                           crops.pis.data(), 10, out.data(), refused.data(), err, sizeof err),
            1);
  EXPECT_EQ(std::string(err).rfind("teeth: ", 0), 0u) << err;
}

}  // namespace
