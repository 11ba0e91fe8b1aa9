#include "tessera/geometry_stamp.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tessera/errors.h"
#include "tessera/json_reader.h"

namespace le::tessera {
namespace {

using le::test::errorOf;

// The test person's stamp: a 15 x 11 window on the 64 x 64 canvas around the mouth.
GeometryStamp mouthStamp() {
  GeometryStamp s;
  s.canvas_w = 64, s.canvas_h = 64, s.window_x0 = 24, s.window_y0 = 38, s.window_w = 15, s.window_h = 11;
  s.pad = 2, s.band_r0 = 2, s.band_r1 = 9, s.band_c0 = 2, s.band_c1 = 13, s.shift_margin = 1;
  return s;
}

std::string validateError(const std::function<void(GeometryStamp&)>& spoil) {
  GeometryStamp s = mouthStamp();
  spoil(s);
  return errorOf([&] { s.validate(); });
}

TEST(GeometryStamp, ReadsTwelveKeysTruncatedAndDescribesThemInOrder) {
  const json::JVal doc = json::parse(
      R"({"shift_margin": 1, "canvas_w": 64.9, "canvas_h": 64, "window_x0": 24, "window_y0": 38, "window_w": 15,
          "window_h": 11, "pad": 2, "band_r0": 2, "band_r1": 9, "band_c0": 2, "band_c1": -13.8})");
  const GeometryStamp s = GeometryStamp::fromJson(doc, "ctx");
  EXPECT_EQ(s.canvas_w, 64);
  EXPECT_EQ(s.band_c1, -13);
  EXPECT_EQ(s.describe(),
            "{canvas_w=64, canvas_h=64, window_x0=24, window_y0=38, window_w=15, window_h=11, pad=2, band_r0=2, "
            "band_r1=9, band_c0=2, band_c1=-13, shift_margin=1}");
  EXPECT_EQ(GeometryStamp::keys()[11], std::string("shift_margin"));
}

TEST(GeometryStamp, EachMissingKeyIsNamedInKeyOrder) {
  for (const char* key : GeometryStamp::keys()) {
    std::string text = "{";
    for (const char* other : GeometryStamp::keys())
      if (std::string(other) != key) text += std::string(text.size() > 1 ? "," : "") + "\"" + other + "\":1";
    const json::JVal doc = json::parse(text + "}");
    EXPECT_EQ(errorOf([&] { GeometryStamp::fromJson(doc, "b.json.geometry"); }),
              std::string("teeth: b.json.geometry lacks numeric '") + key + "'");
  }
}

TEST(GeometryStamp, CoherentStampsPass) {
  EXPECT_EQ(validateError([](GeometryStamp&) {}), "");
  EXPECT_EQ(validateError([](GeometryStamp& s) { s.shift_margin = 0; }), "");
  // The stored band may reach exactly to the padded window's edges.
  EXPECT_EQ(validateError([](GeometryStamp& s) { s.band_r0 = 0, s.shift_margin = 2, s.band_r1 = 11, s.band_c1 = 15; }),
            "");
  EXPECT_EQ(validateError([](GeometryStamp& s) { s.window_x0 = 64 - 15; }), "");
}

TEST(GeometryStamp, EachRuleReportsItsOwnText) {
  const std::pair<std::function<void(GeometryStamp&)>, const char*> cases[] = {
      {[](GeometryStamp& s) { s.window_h = 0, s.band_r0 = 0, s.band_r1 = 0; },
       " window dims must be positive; band rows escape window;"},
      {[](GeometryStamp& s) { s.window_x0 = -1; }, " window x-range escapes canvas;"},
      {[](GeometryStamp& s) { s.window_x0 = 64 - 14; }, " window x-range escapes canvas;"},
      {[](GeometryStamp& s) { s.window_y0 = 64 - 10; }, " window y-range escapes canvas;"},
      {[](GeometryStamp& s) { s.band_r0 = 9; }, " band rows escape window;"},
      {[](GeometryStamp& s) { s.band_r1 = 13; }, " band rows escape window; stored band rows escape patch;"},
      {[](GeometryStamp& s) { s.band_c0 = -1; }, " band cols escape window;"},
      {[](GeometryStamp& s) { s.band_c1 = 17; }, " band cols escape window; stored band cols escape patch;"},
      {[](GeometryStamp& s) { s.shift_margin = -1; }, " pad/shift_margin must be positive;"},
      {[](GeometryStamp& s) { s.shift_margin = 5; }, " stored band rows escape patch; stored band cols escape patch;"},
      {[](GeometryStamp& s) { s.band_r1 = 11, s.shift_margin = 3, s.band_r0 = 5; }, " stored band rows escape patch;"},
  };
  for (const auto& [spoil, texts] : cases)
    EXPECT_EQ(validateError(spoil), std::string("teeth: GeometryStamp incoherent:") + texts);
}

TEST(GeometryStamp, ReportsEveryFailedRuleAtOnceInTableOrder) {
  EXPECT_EQ(validateError([](GeometryStamp& s) { s.window_w = 0, s.pad = 0; }),
            "teeth: GeometryStamp incoherent: window dims must be positive; band cols escape window; pad/shift_margin "
            "must be positive; stored band cols escape patch;");
  EXPECT_EQ(validateError([](GeometryStamp& s) {
              s = GeometryStamp();
              s.window_x0 = s.window_y0 = s.band_r0 = s.band_c0 = -1, s.shift_margin = -1;
            }),
            "teeth: GeometryStamp incoherent: window dims must be positive; window x-range escapes canvas; window "
            "y-range escapes canvas; band rows escape window; band cols escape window; pad/shift_margin must be "
            "positive;");
}

TEST(GeometryStamp, ExtremeValuesDoNotOverflowPastARule) {
  const int32_t big = 2147483647;
  EXPECT_EQ(validateError([&](GeometryStamp& s) { s.window_x0 = big; }),
            "teeth: GeometryStamp incoherent: window x-range escapes canvas;");
  EXPECT_NE(validateError([&](GeometryStamp& s) { s.pad = big, s.band_r1 = big, s.shift_margin = big; }), "");
}

}  // namespace
}  // namespace le::tessera
