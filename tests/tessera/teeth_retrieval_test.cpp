// Retrieval of the teeth pass: the difference table and the exact term against scalar references,
// the selection and donor-set rules on hand-made lists, and retrieval on the test bank, where the
// live mouth is a known donor placed at a known shift.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "tessera/teeth_dtable.h"
#include "tessera/teeth_pass_fixture.h"
#include "tessera/teeth_selection.h"

namespace le::tessera {
namespace {

using test::crop;
using test::testBank;

// h(x) through the compiler's binary16 type: round to nearest, ties to even.
float half(float x) { return float(_Float16(x)); }

uint32_t bitsOf(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

TEST(TeethDifferenceTable, EveryEntryIsTheRoundedDifferenceOfRoundedLevels) {
  const float* table = dTable();
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      const float expected = std::fabs(half(half(float(b) / 255.f) - half(float(a) / 255.f)));
      ASSERT_EQ(bitsOf(table[a * 256 + b]), bitsOf(expected)) << a << "," << b;
    }
  EXPECT_EQ(table[0], 0.f);
  EXPECT_EQ(table[255], 1.f);
  EXPECT_EQ(dTable(), table);
}

// Masks of 0, 1 and fractions whose products need the half rounding of the distance; the sum
// continues from the value given and skips the masked-out pixels in column order.
TEST(TeethExactRow, MatchesAScalarReferenceBitForBit) {
  std::mt19937 rng(11);
  const size_t n = 53;
  std::vector<uint8_t> live(3 * n), donor(3 * n);
  std::vector<float> mask(n), distance(n), product(n);
  for (int round = 0; round < 20; ++round) {
    for (auto& v : live) v = uint8_t(rng());
    for (auto& v : donor) v = uint8_t(rng());
    for (auto& m : mask) m = rng() % 3 == 0 ? 0.f : (rng() % 2 ? 1.f : float(rng() % 1000) / 997.f);
    float expected = 0.25f;
    for (size_t x = 0; x < n; ++x) {
      float d = 0.f;
      for (size_t c = 0; c < 3; ++c) {
        const float l = half(float(live[3 * x + c]) / 255.f), r = half(float(donor[3 * x + c]) / 255.f);
        d += std::fabs(half(r - l));
      }
      if (mask[x] != 0.f) expected += half(d / 3.f) * mask[x];
    }
    const float got = addExactRow(0.25f, live.data(), donor.data(), mask.data(), n, distance.data(), product.data());
    ASSERT_EQ(bitsOf(got), bitsOf(expected)) << "round " << round;
  }
}

struct SelectCase {
  const char* name;
  std::vector<int32_t> shortlist;
  std::vector<float> exact;
  std::vector<double> aperture;  // by donor index
  int32_t cut, K;
  double tolerance;
  std::vector<int32_t> expected;
};

class TeethSelection : public testing::TestWithParam<SelectCase> {};

TEST_P(TeethSelection, PicksExactlyKDonors) {
  const SelectCase& c = GetParam();
  ServeConfig config;
  config.cut = c.cut;
  config.K = c.K;
  config.aperture_tol = c.tolerance;
  EXPECT_EQ(retrieveSelect(c.shortlist, c.exact, c.aperture, config), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TeethSelection,
    testing::Values(
        SelectCase{"CutOfOneRepeatsTheBest", {5, 3, 9}, {0.3f, 0.1f, 0.2f}, std::vector<double>(10, 1.0), 1, 4, 0.3,
                   {3, 3, 3, 3}},
        // Best donor 3 (aperture 2.0): within 0.6 are donors 9 (2.5) and 1 (1.5); 5 (2.7) is not.
        SelectCase{"ApertureToleranceInTermOrder", {5, 3, 9, 1}, {0.3f, 0.1f, 0.2f, 0.4f},
                   {0, 1.5, 0, 2.0, 0, 2.7, 0, 0, 0, 2.5}, 8, 5, 0.3, {3, 9, 1, 1, 1}},
        SelectCase{"WalkStopsAtTheCut", {5, 3, 9, 1}, {0.3f, 0.1f, 0.2f, 0.4f},
                   {0, 1.5, 0, 2.0, 0, 2.7, 0, 0, 0, 2.5}, 2, 3, 0.3, {3, 9, 9}},
        SelectCase{"StopsWhenKAreKept", {0, 1, 2}, {0.1f, 0.2f, 0.3f}, {1.0, 1.0, 1.0}, 8, 2, 0.3, {0, 1}},
        SelectCase{"EqualTermsKeepShortlistOrder", {4, 2, 7}, {0.5f, 0.5f, 0.5f}, std::vector<double>(8, 1.0), 8, 3,
                   0.3, {4, 2, 7}},
        // A closed best mouth (aperture 0) still has a tolerance: 1e-6 times aperture_tol.
        SelectCase{"ClosedBestKeepsOnlyClosedMouths", {0, 1, 2}, {0.1f, 0.2f, 0.3f}, {0.0, 1e-7, 0.01}, 8, 3, 2.0,
                   {0, 1, 1}},
        SelectCase{"CutOfZeroTakesTheBest", {6, 2}, {0.2f, 0.1f}, std::vector<double>(8, 1.0), 0, 2, 0.3, {2, 2}}),
    [](const testing::TestParamInfo<SelectCase>& info) { return std::string(info.param.name); });

struct SetCase {
  const char* name;
  std::vector<int32_t> current, ahead;
  bool hasSticky;
  std::vector<int32_t> sticky;
  int32_t K;
  std::vector<int32_t> expected;
};

class TeethDonorSet : public testing::TestWithParam<SetCase> {};

TEST_P(TeethDonorSet, FollowsTheLookaheadAndTheStickySet) {
  const SetCase& c = GetParam();
  EXPECT_EQ(donorSet(c.current, c.ahead, c.hasSticky ? &c.sticky : nullptr, c.K), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TeethDonorSet,
    testing::Values(SetCase{"FreshIsAheadThenTheRest", {1, 2, 3, 4}, {3, 9}, false, {}, 4, {3, 9, 1, 2}},
                    SetCase{"FreshKeepsRepeatsOfTheSelection", {5, 5, 5}, {}, false, {}, 3, {5, 5, 5}},
                    SetCase{"StickyLeadsThenWhatItLacks", {1, 2, 3, 4}, {3, 9}, true, {2, 7}, 5, {2, 7, 3, 9, 1}},
                    SetCase{"EmptyStickyIsFresh", {1, 2}, {8}, true, {}, 3, {8, 1, 2}},
                    SetCase{"CutToK", {1, 2, 3}, {}, true, {6, 7}, 3, {6, 7, 1}}),
    [](const testing::TestParamInfo<SetCase>& info) { return std::string(info.param.name); });

TEST(TeethSticky, KeepsTheHeaviestDonorsLargestFirstAndTiesInSetOrder) {
  EXPECT_EQ(stickyByWeight({4, 8, 1, 6}, {2.0, 5.0, 2.0, 9.0}, 3), (std::vector<int32_t>{6, 8, 4}));
  EXPECT_EQ(stickyByWeight({4, 8}, {1.0, 3.0}, 5), (std::vector<int32_t>{8, 4}));
  EXPECT_TRUE(stickyByWeight({4, 8}, {1.0, 3.0}, 0).empty());
}

ServeConfig configWith(int32_t kshort, int32_t cut, int32_t K) {
  ServeConfig config = testBank().config;
  config.kshort = kshort;
  config.cut = cut;
  config.K = K;
  return config;
}

// A shortlist of 3 of the 16 donors: the coarse stage must already rank the live donor near the
// top, and the exact stage must put it first.
TEST(TeethRetrieval, TheLiveDonorComesFirstAtItsShift) {
  for (const char* name : {"shifted", "noisy", "narrow", "wide"}) {
    const test::Crop& c = crop(name);
    TeethPass pass(testBank().bank, testBank().head, configWith(3, 8, 4));
    const std::vector<int32_t> selection = pass.retrieve(c.rgb.data(), c.pi.data(), c.shift.first, c.shift.second);
    ASSERT_EQ(selection.size(), 4u) << name;
    EXPECT_EQ(selection[0], c.donor) << name;
  }
}

TEST(TeethRetrieval, CutOfOneSelectsTheBestDonorKTimes) {
  const test::Crop& c = crop("noisy");
  TeethPass pass(testBank().bank, testBank().head, configWith(16, 1, 6));
  EXPECT_EQ(pass.retrieve(c.rgb.data(), c.pi.data(), c.shift.first, c.shift.second),
            std::vector<int32_t>(6, c.donor));
}

// More donors asked for than the bank holds: the last kept donor fills the selection.
TEST(TeethRetrieval, SelectionHasKEntriesEvenPastTheBankSize) {
  const test::Crop& c = crop("wide");
  ServeConfig config = configWith(16, 96, 40);
  config.aperture_tol = 100.0;
  TeethPass pass(testBank().bank, testBank().head, config);
  const std::vector<int32_t> selection = pass.retrieve(c.rgb.data(), c.pi.data(), 0, 0);
  ASSERT_EQ(selection.size(), 40u);
  EXPECT_EQ(selection[0], c.donor);
  EXPECT_EQ(std::set<int32_t>(selection.begin(), selection.end()).size(), 16u);
  EXPECT_EQ(selection[39], selection[15]);
}

}  // namespace
}  // namespace le::tessera
