// The teeth pass on the test bank: construction refusals, donor placement, the frame flow one frame
// behind with its lookahead and sticky set, and the blend that replaces a noisy live mouth by the
// donor it matches.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pool/pool.h"
#include "tessera/errors.h"
#include "tessera/teeth_pass_fixture.h"

namespace le::tessera {
namespace {

using le::test::errorOf;
using test::crop;
using test::meanAbsDiffInPi;
using test::testBank;

const GeometryStamp& stamp() { return testBank().bank.stamp; }

// The bundle's config with one donor per frame, no lookahead and a sticky set of one: every
// emitted window then shows one donor, named by the rules under test.
ServeConfig singleDonor(int32_t lookahead) {
  ServeConfig config = testBank().config;
  config.K = 1;
  config.cut = 1;
  config.hysteresis = 1;
  config.lookahead = lookahead;
  return config;
}

TeethPass makePass(const ServeConfig& config) { return TeethPass(testBank().bank, testBank().head, config); }

bool pushCrop(TeethPass& pass, int32_t index, const char* name, FrameResult& out) {
  const test::Crop& c = crop(name);
  return pass.push(index, c.rgb.data(), c.pi.data(), c.shift, out);
}

// How far an emitted window lies from a case's clean canvas inside its pi mask.
double distanceTo(const FrameResult& r, const char* name) {
  return meanAbsDiffInPi(r.pixels, crop(name).clean, crop(name).pi, stamp());
}

TEST(TeethPassConstruction, RefusesADonorBufferOfAnotherSize) {
  BankData bank = testBank().bank;
  bank.donors.pop_back();
  const size_t required = bank.donors.size() + 1;
  EXPECT_EQ(errorOf([&] { TeethPass(bank, testBank().head, testBank().config); }),
            "teeth: reference track is " + std::to_string(required - 1) + " bytes, the stamp requires " +
                std::to_string(required) +
                " (n * stored_h * stored_w * 3) — a decoder that delivered a different pixel format would land here");
}

TEST(TeethPassConstruction, RefusesSidecarArraysOfAnotherLength) {
  BankData shortAperture = testBank().bank, shortCent = testBank().bank;
  shortAperture.aperture.pop_back();
  shortCent.cent.push_back({0.0, 0.0});
  for (const BankData* bank : {&shortAperture, &shortCent})
    EXPECT_EQ(errorOf([&] { TeethPass(*bank, testBank().head, testBank().config); }),
              "teeth: bank sidecar arrays disagree with n_donors");
}

TEST(TeethPassConstruction, RefusesAnIncoherentStampBeforeLookingAtTheDonors) {
  BankData bank = testBank().bank;
  bank.stamp.pad = 0;
  bank.donors.clear();
  EXPECT_EQ(errorOf([&] { TeethPass(bank, testBank().head, testBank().config); }),
            "teeth: GeometryStamp incoherent: pad/shift_margin must be positive;");
}

// Placement checked against the baker's own: the canvas holds the donor's patch pasted where its
// canonical window shows through the window moved by the case's shift.
TEST(TeethPassPlacement, CanonicalWindowOfTheLiveDonorIsTheCanvasAtItsShift) {
  const test::Crop& c = crop("shifted");
  const GeometryStamp& s = stamp();
  TeethPass pass = makePass(testBank().config);
  const size_t pixels = size_t(s.window_w) * s.window_h;
  std::vector<uint16_t> window(3 * pixels);
  pass.canonicalWindowF16(c.donor, window.data());
  for (int32_t i = s.band_r0; i < s.band_r1; ++i)
    for (int32_t x = s.band_c0; x < s.band_c1; ++x) {
      const size_t at = size_t(s.window_y0 + c.shift.first + i) * s.canvas_w + size_t(s.window_x0 + c.shift.second + x);
      for (size_t ch = 0; ch < 3; ++ch) {
        const _Float16 expected = _Float16(float(c.clean[at * 3 + ch]) / 255.f);
        uint16_t bits;
        std::memcpy(&bits, &expected, 2);
        ASSERT_EQ(window[ch * pixels + size_t(i) * s.window_w + x], bits) << i << "," << x << "," << ch;
      }
    }
}

TEST(TeethPassPlacement, RowsFormClearsAndFillsOnlyItsRows) {
  const GeometryStamp& s = stamp();
  TeethPass pass = makePass(testBank().config);
  const size_t pixels = size_t(s.window_w) * s.window_h, w = size_t(s.window_w);
  std::vector<uint16_t> whole(3 * pixels), rows(3 * pixels, 0x7777);
  pass.canonicalWindowF16(4, whole.data());
  pass.canonicalWindowF16Rows(4, rows.data(), 1, 9);
  for (size_t ch = 0; ch < 3; ++ch)
    for (size_t p = 0; p < pixels; ++p) {
      const bool inside = p / w >= 1 && p / w < 9;
      ASSERT_EQ(rows[ch * pixels + p], inside ? whole[ch * pixels + p] : 0x7777) << ch << "," << p;
    }
  // The window's top row lies above the stored patch: it is cleared to 0.
  EXPECT_EQ(whole[0], 0);
}

TEST(TeethPassFlow, FirstPushHoldsAndTheSecondEmitsTheFirstFrame) {
  TeethPass pass = makePass(singleDonor(0));
  FrameResult r;
  r.reason = "untouched";
  EXPECT_FALSE(pushCrop(pass, 1, "narrow", r));
  EXPECT_EQ(r.reason, "untouched");
  EXPECT_TRUE(r.pixels.empty());
  EXPECT_TRUE(pushCrop(pass, 2, "wide", r));
  EXPECT_FALSE(r.refused);
  EXPECT_TRUE(r.reason.empty());
  EXPECT_EQ(r.donors, 1);
  ASSERT_EQ(r.pixels.size(), size_t(stamp().window_w) * stamp().window_h * 3);
  EXPECT_LT(distanceTo(r, "narrow"), 1.0);
  EXPECT_GT(distanceTo(r, "wide"), 10.0);
}

// With one donor per frame and a lookahead of one, a frame shows the next frame's best donor; when
// the next frame has no pi mask there is nothing to look ahead to.
TEST(TeethPassFlow, EmptyPiIsRefusedAndTheFrameBeforeItHasNoLookahead) {
  FrameResult r;
  TeethPass steered = makePass(singleDonor(1));
  pushCrop(steered, 0, "narrow", r);
  ASSERT_TRUE(pushCrop(steered, 1, "wide", r));
  EXPECT_LT(distanceTo(r, "wide"), 1.0);

  TeethPass pass = makePass(singleDonor(1));
  pushCrop(pass, 0, "narrow", r);
  const std::vector<uint8_t> noPi(crop("wide").pi.size(), 0);
  ASSERT_TRUE(pass.push(1, crop("wide").rgb.data(), noPi.data(), std::nullopt, r));
  EXPECT_FALSE(r.refused);
  EXPECT_LT(distanceTo(r, "narrow"), 1.0);
  ASSERT_TRUE(pass.flush(r));
  EXPECT_TRUE(r.refused);
  EXPECT_EQ(r.reason, "empty-pi");
  EXPECT_TRUE(r.pixels.empty());
  EXPECT_EQ(r.donors, 0);
}

TEST(TeethPassFlow, FlushEmitsTheHeldFrameOnce) {
  TeethPass pass = makePass(testBank().config);
  FrameResult r;
  EXPECT_FALSE(pass.flush(r));
  pushCrop(pass, 0, "shifted", r);
  ASSERT_TRUE(pass.flush(r));
  EXPECT_FALSE(r.refused);
  EXPECT_EQ(r.donors, testBank().config.K);
  r.reason = "untouched";
  EXPECT_FALSE(pass.flush(r));
  EXPECT_EQ(r.reason, "untouched");
}

TEST(TeethPassFlow, AShiftBeyondThePadIsRefused) {
  TeethPass pass = makePass(testBank().config);
  const test::Crop& c = crop("wide");
  FrameResult r;
  for (const Shift shift : {Shift{stamp().pad + 1, 0}, Shift{0, -stamp().pad - 1}}) {
    pass.push(0, c.rgb.data(), c.pi.data(), shift, r);
    ASSERT_TRUE(pass.flush(r));
    EXPECT_TRUE(r.refused);
    EXPECT_EQ(r.reason, "shift-out-of-range");
  }
}

// The pi mask of a case is centred on the canonical centre moved by its shift, so the shift the
// pass derives is the case's: the windows are the same bytes.
TEST(TeethPassFlow, DerivedShiftIsTheShiftOfThePiCentroid) {
  const test::Crop& c = crop("shifted");
  FrameResult given, derived;
  TeethPass a = makePass(testBank().config), b = makePass(testBank().config);
  a.push(0, c.rgb.data(), c.pi.data(), c.shift, given);
  b.push(0, c.rgb.data(), c.pi.data(), std::nullopt, derived);
  ASSERT_TRUE(a.flush(given));
  ASSERT_TRUE(b.flush(derived));
  EXPECT_FALSE(derived.refused);
  EXPECT_EQ(derived.pixels, given.pixels);
}

// Frame 5 shows the narrow mouth and leaves its donor sticky. A consecutive frame 6 keeps that
// donor although its own mouth is the wide one; frame 7 after a gap starts afresh.
TEST(TeethPassSticky, ConsecutiveFramesKeepTheStickyDonorAndAGapStartsAFreshSet) {
  FrameResult r;
  TeethPass consecutive = makePass(singleDonor(0));
  pushCrop(consecutive, 5, "narrow", r);
  pushCrop(consecutive, 6, "wide", r);
  ASSERT_TRUE(consecutive.flush(r));
  EXPECT_LT(distanceTo(r, "narrow"), 1.0);

  TeethPass gap = makePass(singleDonor(0));
  pushCrop(gap, 5, "narrow", r);
  pushCrop(gap, 7, "wide", r);
  ASSERT_TRUE(gap.flush(r));
  EXPECT_LT(distanceTo(r, "wide"), 1.0);
}

// The live mouth is the donor with noise on it: the blend of the bundle's K donors under its set
// head gives back the donor, not the noise; outside the pi mask the window is the live canvas.
TEST(TeethPassBlend, NoisyMouthBecomesTheDonorItMatches) {
  const test::Crop& c = crop("noisy");
  TeethPass pass = makePass(testBank().config);
  FrameResult r;
  pushCrop(pass, 0, "noisy", r);
  ASSERT_TRUE(pass.flush(r));
  EXPECT_EQ(r.donors, testBank().config.K);
  const double noise = meanAbsDiffInPi(test::windowOf(c.rgb, stamp()), c.clean, c.pi, stamp());
  EXPECT_GT(noise, 3.0);
  EXPECT_LT(distanceTo(r, "noisy"), 0.5 * noise);
  EXPECT_GT(meanAbsDiffInPi(r.pixels, c.rgb, c.pi, stamp()), 0.8 * noise);
  const GeometryStamp& s = stamp();
  for (int32_t i = 0; i < s.window_h; ++i)
    for (int32_t x = 0; x < s.window_w; ++x) {
      const size_t at = size_t(s.window_y0 + i) * s.canvas_w + size_t(s.window_x0 + x);
      if (c.pi[at]) continue;
      for (size_t ch = 0; ch < 3; ++ch)
        ASSERT_EQ(r.pixels[(size_t(i) * s.window_w + x) * 3 + ch], c.rgb[at * 3 + ch]) << i << "," << x;
    }
  EXPECT_EQ(r.synthMean, 0.f);
  EXPECT_EQ(r.synthMax, 0.f);
  const TeethPass::SynthStats stats = pass.synthStats();
  EXPECT_EQ(stats.frames, 1);
  EXPECT_GT(stats.pixels, 0);
  EXPECT_EQ(stats.sumOfMeans, 0.0);
}

// Every parallel loop of the pass splits work that has one owner per output, so two pool threads
// give the bytes one gives.
TEST(TeethPassThreads, TwoPoolThreadsEmitTheBytesOfOne) {
  const auto run = [] {
    TeethPass pass = makePass(testBank().config);
    std::vector<FrameResult> out;
    FrameResult r;
    int32_t index = 0;
    for (const char* name : {"noisy", "shifted", "narrow", "wide", "noisy"})
      if (pushCrop(pass, index++, name, r)) out.push_back(r);
    if (pass.flush(r)) out.push_back(r);
    return out;
  };
  pool::setThreads(1);
  const std::vector<FrameResult> one = run();
  pool::setThreads(2);
  const std::vector<FrameResult> two = run();
  pool::setThreads(0);
  ASSERT_EQ(one.size(), 5u);
  ASSERT_EQ(two.size(), one.size());
  for (size_t i = 0; i < one.size(); ++i) EXPECT_EQ(two[i].pixels, one[i].pixels) << "frame " << i;
}

}  // namespace
}  // namespace le::tessera
