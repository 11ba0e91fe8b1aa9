#include "tessera/geometry_stamp.h"

#include <stdexcept>

#include "tessera/json_access.h"

namespace le::tessera {

namespace {

// The stamp's keys and fields in order, so that reading, listing and describing share one table.
struct StampField {
  const char* key;
  int32_t GeometryStamp::*field;
};
constexpr std::array<StampField, 12> kFields = {{{"canvas_w", &GeometryStamp::canvas_w},
                                                 {"canvas_h", &GeometryStamp::canvas_h},
                                                 {"window_x0", &GeometryStamp::window_x0},
                                                 {"window_y0", &GeometryStamp::window_y0},
                                                 {"window_w", &GeometryStamp::window_w},
                                                 {"window_h", &GeometryStamp::window_h},
                                                 {"pad", &GeometryStamp::pad},
                                                 {"band_r0", &GeometryStamp::band_r0},
                                                 {"band_r1", &GeometryStamp::band_r1},
                                                 {"band_c0", &GeometryStamp::band_c0},
                                                 {"band_c1", &GeometryStamp::band_c1},
                                                 {"shift_margin", &GeometryStamp::shift_margin}}};

struct Rule {
  bool fails;
  const char* text;
};

}  // namespace

const std::array<const char*, 12>& GeometryStamp::keys() {
  static const std::array<const char*, 12> names = [] {
    std::array<const char*, 12> out{};
    for (size_t i = 0; i < kFields.size(); ++i) out[i] = kFields[i].key;
    return out;
  }();
  return names;
}

GeometryStamp GeometryStamp::fromJson(const json::JVal& object, const std::string& context) {
  GeometryStamp stamp;
  for (size_t i = 0; i < kFields.size(); ++i)
    stamp.*kFields[i].field = json::truncatedInt32(json::requiredNumber(object, kFields[i].key, context));
  return stamp;
}

std::string GeometryStamp::describe() const {
  std::string text = "{";
  for (size_t i = 0; i < kFields.size(); ++i)
    text += (i ? ", " : "") + std::string(kFields[i].key) + "=" + std::to_string(this->*kFields[i].field);
  return text + "}";
}

void GeometryStamp::validate() const {
  // 64-bit sums: a hostile stamp must not overflow its way past a rule.
  const int64_t x0 = window_x0, y0 = window_y0, w = window_w, h = window_h, p = pad, m = shift_margin;
  const Rule rules[] = {
      {w < 1 || h < 1, "window dims must be positive"},
      {x0 < 0 || x0 + w > canvas_w, "window x-range escapes canvas"},
      {y0 < 0 || y0 + h > canvas_h, "window y-range escapes canvas"},
      {band_r0 < 0 || band_r0 >= band_r1 || band_r1 > h, "band rows escape window"},
      {band_c0 < 0 || band_c0 >= band_c1 || band_c1 > w, "band cols escape window"},
      {m < 0 || p < 1, "pad/shift_margin must be positive"},
      {p + band_r0 < m || p + band_r1 + m > h + 2 * p, "stored band rows escape patch"},
      {p + band_c0 < m || p + band_c1 + m > w + 2 * p, "stored band cols escape patch"},
  };
  std::string failed;
  for (const Rule& rule : rules)
    if (rule.fails) failed += std::string(" ") + rule.text + ";";
  if (!failed.empty()) throw std::runtime_error("teeth: GeometryStamp incoherent:" + failed);
}

}  // namespace le::tessera
