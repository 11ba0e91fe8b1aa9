// The teeth pass on a live stream of crops: the construction checks and log lines, the write-back
// rule that swaps a canvas's 8-bit part for the borrowed byte, and a rendered mouth pulled toward the
// bank's donors.
#include "tessera/stream_borrow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "le/le.h"
#include "simd/simd.h"
#include "support/temp_dir.h"
#include "tessera/bank_decoder.h"
#include "tessera/errors.h"
#include "tessera/teeth_members.h"
#include "support/log_capture.h"

namespace le::tessera {
namespace {

using le::test::errorOf;

const std::string kBundle = std::string(LE_TEST_FIXTURES) + "/test-crop128";

struct Members {
  Members() : in(loadTesseraMembers(kBundle)) {
    const std::string track = le::test::readFile(in.bank_track_path);
    bank.donors = decodeBankTrack(reinterpret_cast<const uint8_t*>(track.data()), track.size(), in.n_donors,
                                  in.band_h, in.band_w, in.track_order);
    bank.n_donors = in.n_donors;
    bank.aperture = in.aperture;
    for (int32_t i = 0; i < in.n_donors; ++i) bank.cent.push_back({in.cent[size_t(2 * i)], in.cent[size_t(2 * i + 1)]});
    bank.c_canon = in.c_canon;
    bank.stamp = in.stamp;
    head = loadHeadPt(in.head_pt);
    config = ServeConfig::fromHeadMemberJson(in.head_json);
  }
  UnifiedPi pi() const { return UnifiedPi::fromManifestJson(in.manifest_json, 128); }

  TesseraAttachInputs in;
  BankData bank;
  HeadWeights head;
  ServeConfig config;
};

GeometryStamp smallStamp() {
  GeometryStamp s;
  s.canvas_w = s.canvas_h = 4;
  s.window_x0 = 1;
  s.window_y0 = 2;
  s.window_w = 2;
  s.window_h = 1;
  return s;
}

TEST(StreamBorrowWriteBack, SwapsTheEightBitPartAndKeepsTheRemainder) {
  const GeometryStamp s = smallStamp();
  std::vector<float> canvas(3 * 16, 0.25f);
  const size_t at = 2 * 4 + 1;  // window pixel (0, 0)
  canvas[at] = 0.5f;            // 127.5 rounds to the even 128
  canvas[at + 1] = 0.998f;      // 254.49 -> 254
  FrameResult r;
  r.pixels = {128, 9, 9, 254, 9, 9};
  StreamBorrow::writeWindowDelta(canvas.data(), 4, r, s);
  EXPECT_EQ(canvas[at], 0.5f) << "byte 128 written over a value whose byte is 128 leaves it";
  EXPECT_EQ(canvas[at + 1], 0.998f);
  EXPECT_NEAR(canvas[16 + at], 9.f / 255.f - 64.f / 255.f + 0.25f, 1e-6f);
  EXPECT_EQ(canvas[0], 0.25f) << "outside the window nothing changes";

  r.pixels.pop_back();
  EXPECT_EQ(errorOf([&] { StreamBorrow::writeWindowDelta(canvas.data(), 4, r, s); }),
            "teeth stream: window 5 bytes does not match the stamp window 1x2 \xe2\x80\x94 refusing to write back");
  r.refused = true;
  const std::vector<float> before = canvas;
  StreamBorrow::writeWindowDelta(canvas.data(), 4, r, s);
  EXPECT_EQ(canvas, before);
}

TEST(StreamBorrowWriteBack, RgbaTakesTheBorrowedBytesAndOpaqueAlpha) {
  const GeometryStamp s = smallStamp();
  std::vector<uint8_t> canvas(4 * 16, 17);
  FrameResult r;
  r.refused = true;
  StreamBorrow::writeWindowDeltaRgba(canvas.data(), 4, r, s);
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(canvas[4 * i + 3], 255);
    EXPECT_EQ(canvas[4 * i], 17);
  }
  r.refused = false;
  r.pixels = {1, 2, 3, 250, 251, 252};
  StreamBorrow::writeWindowDeltaRgba(canvas.data(), 4, r, s);
  const size_t at = 4 * (2 * 4 + 1);
  EXPECT_EQ(std::vector<uint8_t>(canvas.begin() + long(at), canvas.begin() + long(at) + 8),
            (std::vector<uint8_t>{1, 2, 3, 255, 250, 251, 252, 255}));
}

TEST(StreamBorrow, SaysWhichMaskItServesAndRefusesCanvasesItCannotServe) {
  const Members m;
  {
    le::test::LogCapture log;
    StreamBorrow borrow(m.bank, m.head, m.config, m.pi(), "");
    EXPECT_FALSE(borrow.hasLipContour());
    EXPECT_TRUE(log.saw("[borrow] !!! delivery mask: ELLIPSE \xe2\x80\x94 this bundle carries no "
                        "lip_template.v1.json"))
        << log.all();
    std::vector<uint8_t> split;
    EXPECT_FALSE(borrow.hostSplit(split));
    EXPECT_STREQ(borrow.backend(), "cpu");
  }
  // The 64-pixel test person's compose geometry under a 128-pixel bank.
  const UnifiedPi small =
      UnifiedPi::fromManifestJson(le::test::readFile(std::string(LE_TEST_FIXTURES) + "/test/manifest.json"), 64);
  EXPECT_EQ(errorOf([&] { StreamBorrow(m.bank, m.head, m.config, small, ""); }),
            "teeth stream: manifest pi canvas 64 != bank compose canvas 128 \xe2\x80\x94 refusing to compose a mouth on "
            "a canvas the stamp does not name");
}

// Distance of a canvas's teeth window to the nearest donor's canonical window moved by the shift,
// over the band.
double distanceToDonors(const TeethPass& pass, const std::vector<float>& crop, int sy, int sx) {
  const GeometryStamp& s = pass.stamp();
  const size_t plane = size_t(s.window_w) * size_t(s.window_h);
  std::vector<uint16_t> f16(3 * plane);
  std::vector<float> canon(3 * plane);
  double best = 1e9;
  for (int32_t d = 0; d < 16; ++d) {
    pass.canonicalWindowF16(d, f16.data());
    le::simd::f16ToF32(f16.data(), canon.data(), f16.size());
    double sum = 0;
    int n = 0;
    for (int c = 0; c < 3; ++c)
      for (int i = s.band_r0; i < s.band_r1; ++i)
        for (int x = s.band_c0; x < s.band_c1; ++x) {
          const int ci = i - sy, cx = x - sx;
          if (ci < 0 || cx < 0 || ci >= s.window_h || cx >= s.window_w) continue;
          const float live = crop[size_t(c) * 128 * 128 + size_t(s.window_y0 + i) * 128 + size_t(s.window_x0 + x)];
          sum += std::fabs(live - canon[size_t(c) * plane + size_t(ci) * size_t(s.window_w) + size_t(cx)]);
          ++n;
        }
    best = std::min(best, sum / n);
  }
  return best;
}

TEST(StreamBorrow, PullsARenderedMouthTowardTheBanksDonors) {
  const Members m;
  le::test::LogCapture quiet;
  le_ctx* ctx = le_create(kBundle.c_str(), "b1", 1, "");
  ASSERT_NE(ctx, nullptr) << le_last_error();
  const std::string xs = le::test::readFile(kBundle + "/xs_target.bin");
  std::vector<float> kp(63);
  std::memcpy(kp.data(), xs.data(), sizeof(float) * 63);
  kp[12 * 3 + 1] += 0.08f;  // the mouth wide open
  kp[20 * 3 + 1] += 0.05f;
  const float* out = le_render_kp_crop(ctx, 0, kp.data(), kp.data());
  ASSERT_NE(out, nullptr) << le_last_error();
  std::vector<float> crop(out, out + 3 * 128 * 128);
  le_destroy(ctx);

  StreamBorrow borrow(m.bank, m.head, m.config, m.pi(), "");
  TeethPass pass(m.bank, m.head, m.config);
  std::vector<uint8_t> mask(128 * 128);
  int sy = 0, sx = 0;
  const float canon[2] = {float(m.bank.c_canon[0]), float(m.bank.c_canon[1])};
  ASSERT_TRUE(m.pi().piU8AndShift(kp.data(), canon, mask.data(), sy, sx));
  const double before = distanceToDonors(pass, crop, sy, sx);
  FrameResult result;
  EXPECT_FALSE(borrow.push(crop.data(), kp.data(), result));
  ASSERT_TRUE(borrow.push(crop.data(), kp.data(), result));
  ASSERT_FALSE(result.refused) << result.reason;
  StreamBorrow::writeWindowDelta(crop.data(), 128, result, borrow.stamp());
  const double after = distanceToDonors(pass, crop, sy, sx);
  EXPECT_LT(after, before * 0.8) << "before " << before << ", after " << after;
}

}  // namespace
}  // namespace le::tessera
