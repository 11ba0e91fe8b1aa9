// The teeth pass's test material: test-crop128's teeth bank decoded into donor order, its set head
// and head config, and the baked canvases whose mouth is a known donor of that bank at a known
// shift (tools/bake/teeth_crops.py).
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tessera/bank_decoder.h"
#include "tessera/head_weights.h"
#include "tessera/json_reader.h"
#include "tessera/serve_config.h"
#include "tessera/teeth_members.h"
#include "tessera/teeth_pass.h"

namespace le::tessera::test {

inline std::string teethFixture(const std::string& name) { return std::string(LE_TEST_FIXTURES) + "/" + name; }

struct TestBank {
  BankData bank;
  HeadWeights head;
  ServeConfig config;  // the bundle's head config
};

inline TestBank loadTestBank() {
  const TesseraAttachInputs in = loadTesseraMembers(teethFixture("test-crop128"));
  const std::string track = le::test::readFile(in.bank_track_path);
  TestBank t;
  t.bank.donors = decodeBankTrack(reinterpret_cast<const uint8_t*>(track.data()), track.size(), in.n_donors, in.band_h,
                                  in.band_w, in.track_order);
  t.bank.aperture = in.aperture;
  for (int32_t d = 0; d < in.n_donors; ++d) t.bank.cent.push_back({in.cent[2 * d], in.cent[2 * d + 1]});
  t.bank.c_canon = in.c_canon;
  t.bank.stamp = in.stamp;
  t.bank.n_donors = in.n_donors;
  t.head = loadHeadPt(in.head_pt);
  t.config = ServeConfig::fromHeadMemberJson(in.head_json);
  return t;
}

inline const TestBank& testBank() {
  static const TestBank bank = loadTestBank();
  return bank;
}

// One baked canvas: RGB8 (with the case's noise), the same before the noise, and its pi mask.
struct Crop {
  std::vector<uint8_t> rgb, clean, pi;
  int32_t donor = 0;
  Shift shift;
};

inline std::vector<uint8_t> readBytes(const std::string& path) {
  const std::string bytes = le::test::readFile(path);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

inline std::map<std::string, Crop> loadCrops() {
  const std::string dir = teethFixture("teeth-crops/");
  const json::JVal doc = json::parse(le::test::readFile(dir + "cases.json"));
  std::map<std::string, Crop> crops;
  for (const json::JVal& c : doc.find("cases")->array) {
    const std::string name = c.find("name")->string;
    Crop& crop = crops[name];
    crop.rgb = readBytes(dir + name + ".rgb.u8");
    crop.clean = readBytes(dir + name + ".clean.u8");
    crop.pi = readBytes(dir + name + ".pi.u8");
    crop.donor = int32_t(c.find("donor")->number);
    crop.shift = {int32_t(c.find("shift")->array[0].number), int32_t(c.find("shift")->array[1].number)};
  }
  return crops;
}

inline const Crop& crop(const std::string& name) {
  static const std::map<std::string, Crop> crops = loadCrops();
  return crops.at(name);
}

// The window of a canvas at the stamp's origin, RGB8.
inline std::vector<uint8_t> windowOf(const std::vector<uint8_t>& canvas, const GeometryStamp& s) {
  std::vector<uint8_t> window;
  for (int32_t i = 0; i < s.window_h; ++i) {
    const auto row = canvas.begin() + (long(s.window_y0 + i) * s.canvas_w + s.window_x0) * 3;
    window.insert(window.end(), row, row + long(s.window_w) * 3);
  }
  return window;
}

// Mean absolute difference, over the window pixels whose canvas pi is non-zero, between an
// emitted window and the window of `canvas` (both RGB8).
inline double meanAbsDiffInPi(const std::vector<uint8_t>& window, const std::vector<uint8_t>& canvas,
                              const std::vector<uint8_t>& pi, const GeometryStamp& s) {
  double sum = 0.0;
  int64_t count = 0;
  for (int32_t i = 0; i < s.window_h; ++i)
    for (int32_t x = 0; x < s.window_w; ++x) {
      const size_t at = size_t(s.window_y0 + i) * s.canvas_w + size_t(s.window_x0 + x);
      if (!pi[at]) continue;
      const uint8_t* got = window.data() + (size_t(i) * s.window_w + x) * 3;
      for (int c = 0; c < 3; ++c) sum += std::abs(int(got[c]) - int(canvas[at * 3 + c]));
      count += 3;
    }
  return count ? sum / double(count) : 0.0;
}

}  // namespace le::tessera::test
