// Reading the lip template: every refusal of the reader with its exact text (the baker's spoilt
// templates and a few only a hand-written document reaches), what an accepted template holds, and
// the shape checks of the map and the contour themselves.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"
#include "tessera/errors.h"
#include "tessera/lip_contour.h"

namespace {

using le::tessera::LipContour;
using le::test::errorOf;

constexpr int kCanvas = 64;

std::string bakedTemplate(const std::string& name) {
  return le::test::readFile(std::string(LE_TEST_FIXTURES) + "/lip-templates/" + name + ".json");
}

// A small template of four vertices, its keys in reading order; each override replaces the text of
// one key's value (an empty text drops the key).
std::string smallTemplate(const std::vector<std::pair<std::string, std::string>>& overrides = {}) {
  std::vector<std::pair<std::string, std::string>> keys = {
      {"format", R"("lip-template-v1")"}, {"edge", R"("outward")"},
      {"canvas", "64"},                   {"feather_px", "2"},
      {"u_canon", "[[-1, 0], [0, -1], [1, 0], [0, 1]]"},
      {"lip_idx", "[17, 18, 19, 20]"},    {"lip_map", ""}};
  for (const auto& [key, value] : overrides)
    for (auto& entry : keys)
      if (entry.first == key) entry.second = value;
  std::string text = "{";
  for (const auto& [key, value] : keys)
    if (!value.empty()) text += (text.size() > 1 ? ", \"" : "\"") + key + "\": " + value;
  return text + "}";
}

// A map over the small template's eight vertex coordinates; `W` gives every row's text.
std::string smallMap(const std::string& row = "[0, 0, 0, 0, 0, 0, 0, 0]", const std::string& extra = "") {
  std::string W;
  for (int i = 0; i < 8; ++i) W += (i ? ", " : "") + row;
  return R"({"schema": "lip-map-v1", "kind": "anchor-linear", "W": [)" + W + R"(], "b": [1, 2, 3, 4, 5, 6, 7, 8])" +
         extra + "}";
}

struct Refusal {
  const char* name;
  std::string text;
  std::string reason;  // after "lip_template.v1.json: "
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class LipTemplateRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(LipTemplateRefusal, NamesTheReason) {
  const Refusal& r = GetParam();
  EXPECT_EQ(errorOf([&] { LipContour::fromTemplateJson(r.text, kCanvas); }), "lip_template.v1.json: " + r.reason);
}

// The baker's spoilt templates, one for each check of the reader, in its order.
INSTANTIATE_TEST_SUITE_P(
    Baked, LipTemplateRefusal,
    ::testing::Values(
        Refusal{"not-json", bakedTemplate("not-json"), "is not parseable JSON (teeth: JSON truncated)"},
        Refusal{"not-object", bakedTemplate("not-object"), "is not a JSON object"},
        Refusal{"no-format", bakedTemplate("no-format"), "carries no string `format`"},
        Refusal{"format-v2", bakedTemplate("format-v2"),
                "declares format 'lip-template-v2', not 'lip-template-v1' \xe2\x80\x94 this runtime cannot read it"},
        Refusal{"edge-inward", bakedTemplate("edge-inward"),
                "declares edge 'inward', and the contour feather is OUTWARD \xe2\x80\x94 refusing to serve a mask this "
                "runtime does not compute"},
        Refusal{"no-canvas", bakedTemplate("no-canvas"), "carries no numeric `canvas`"},
        Refusal{"canvas-other", bakedTemplate("canvas-other"),
                "was baked on a 128.000000 canvas but this bundle composes on 64 \xe2\x80\x94 refusing to deform a "
                "polygon onto a canvas it does not name"},
        Refusal{"no-feather", bakedTemplate("no-feather"), "carries no numeric `feather_px`"},
        Refusal{"feather-zero", bakedTemplate("feather-zero"), "declares feather_px 0.000000, which is not positive"},
        Refusal{"no-u-canon", bakedTemplate("no-u-canon"), "carries no non-empty `u_canon` array"},
        Refusal{"u-canon-row3", bakedTemplate("u-canon-row3"),
                "u_canon row 2 is not a 2-vector \xe2\x80\x94 this is not an nv x 2 template"},
        Refusal{"no-lip-idx", bakedTemplate("no-lip-idx"), "carries a `lip_idx` that is not a non-empty array"},
        Refusal{"lip-idx-21", bakedTemplate("lip-idx-21"), "lip_idx names keypoint row 21, and a kd row is 0..20"},
        Refusal{"map-not-object", bakedTemplate("map-not-object"), "lip_map is not a JSON object"},
        Refusal{"map-schema-v2", bakedTemplate("map-schema-v2"),
                "lip_map declares schema 'lip-map-v2', not 'lip-map-v1' \xe2\x80\x94 this runtime cannot evaluate it"},
        Refusal{"map-no-schema", bakedTemplate("map-no-schema"),
                "lip_map declares schema '?', not 'lip-map-v1' \xe2\x80\x94 this runtime cannot evaluate it"},
        Refusal{"map-kind", bakedTemplate("map-kind"), "lip_map kind is not 'anchor-linear'"},
        Refusal{"map-idx-9", bakedTemplate("map-idx-9"), "lip_map lip_idx is not 1..8 kd rows"},
        Refusal{"map-idx-21", bakedTemplate("map-idx-21"), "lip_map lip_idx names a row outside 0..20"},
        Refusal{"map-no-w", bakedTemplate("map-no-w"), "lip_map carries no W/b arrays"},
        Refusal{"map-b-short", bakedTemplate("map-b-short"), "lip_map W/b have 32/31 rows, not 2*nv=32"},
        Refusal{"map-w-narrow", bakedTemplate("map-w-narrow"), "lip_map W row 0 is not 8 wide"},
        Refusal{"map-non-finite", bakedTemplate("map-non-finite"), "lip_map carries a non-finite coefficient"},
        Refusal{"map-canvas-other", bakedTemplate("map-canvas-other"),
                "lip_map was fitted on another canvas than this bundle composes on"}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (c == '-') c = '_';
      return name;
    });

// Values of the right kind but not of the right form, which only a hand-written template carries.
INSTANTIATE_TEST_SUITE_P(
    HandWritten, LipTemplateRefusal,
    ::testing::Values(
        Refusal{"feather_negative", smallTemplate({{"feather_px", "-1"}}),
                "declares feather_px -1.000000, which is not positive"},
        // Positive as a double, zero once kept as the contour's float.
        Refusal{"feather_below_float", smallTemplate({{"feather_px", "1e-60"}}),
                "declares feather_px 0.000000, which is not positive"},
        Refusal{"feather_nan", smallTemplate({{"feather_px", "nan"}}),
                "declares feather_px nan, which is not positive"},
        Refusal{"u_canon_row_of_strings", smallTemplate({{"u_canon", R"([[1, 0], ["1", "0"]])"}}),
                "u_canon row 1 is not a 2-vector \xe2\x80\x94 this is not an nv x 2 template"},
        Refusal{"lip_idx_fraction", smallTemplate({{"lip_idx", "[17, 17.5]"}}),
                "lip_idx names keypoint row 17.5, and a kd row is 0..20"},
        Refusal{"lip_idx_negative", smallTemplate({{"lip_idx", "[-1]"}}),
                "lip_idx names keypoint row -1, and a kd row is 0..20"},
        Refusal{"lip_idx_string", smallTemplate({{"lip_idx", R"(["17"])"}}),
                "lip_idx names keypoint row (not a number), and a kd row is 0..20"},
        Refusal{"map_null", smallTemplate({{"lip_map", "null"}}), "lip_map is not a JSON object"},
        Refusal{"map_idx_empty", smallTemplate({{"lip_map", smallMap("[0, 0]", R"(, "lip_idx": [])")}}),
                "lip_map lip_idx is not 1..8 kd rows"},
        Refusal{"map_idx_string", smallTemplate({{"lip_map", smallMap("[0, 0]", R"(, "lip_idx": ["17"])")}}),
                "lip_map lip_idx is not 1..8 kd rows"},
        Refusal{"map_idx_fraction", smallTemplate({{"lip_map", smallMap("[0, 0]", R"(, "lip_idx": [17.5])")}}),
                "lip_map lip_idx names a row outside 0..20"},
        Refusal{"map_w_row_not_array", smallTemplate({{"lip_map", smallMap("8")}}), "lip_map W row 0 is not 8 wide"},
        Refusal{"map_nan", smallTemplate({{"lip_map", smallMap("[0, 0, 0, nan, 0, 0, 0, 0]")}}),
                "lip_map carries a non-finite coefficient"},
        Refusal{"map_string_coefficient", smallTemplate({{"lip_map", smallMap("[0, 0, 0, \"0\", 0, 0, 0, 0]")}}),
                "lip_map carries a non-finite coefficient"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LipTemplate, ReadsTheBakedTemplates) {
  const LipContour unit = LipContour::fromTemplateJson(bakedTemplate("valid"), kCanvas);
  EXPECT_FALSE(unit.hasMap());
  EXPECT_EQ(unit.canvas(), kCanvas);
  EXPECT_EQ(unit.vertexCount(), 16);
  EXPECT_EQ(unit.featherPx(), 2.0f);
  EXPECT_EQ(unit.anchorIdx(), (std::vector<int32_t>{17, 18, 19, 20}));
  // A map without lip_idx reads rows 17 to 20, so its eight-column W is the right shape.
  for (const char* name : {"valid-map", "map-default-idx"}) {
    const LipContour mapped = LipContour::fromTemplateJson(bakedTemplate(name), kCanvas);
    EXPECT_TRUE(mapped.hasMap()) << name;
    EXPECT_EQ(mapped.vertexCount(), 16) << name;
    EXPECT_EQ(mapped.anchorIdx(), (std::vector<int32_t>{17, 18, 19, 20})) << name;
  }
}

TEST(LipTemplate, OnlyTheOptInBundlesCarryOne) {
  const std::string fixtures = LE_TEST_FIXTURES;
  EXPECT_FALSE(std::filesystem::exists(fixtures + "/test/lip_template.v1.json"));
  const std::string unit = le::test::readFile(fixtures + "/test-lip-template/lip_template.v1.json");
  EXPECT_FALSE(LipContour::fromTemplateJson(unit, kCanvas).hasMap());
  const std::string mapped = le::test::readFile(fixtures + "/test-lip-template-map/lip_template.v1.json");
  EXPECT_TRUE(LipContour::fromTemplateJson(mapped, kCanvas).hasMap());
}

TEST(LipTemplate, AcceptsWhatTheFormatLeavesOpen) {
  // No edge at all, or an edge that is not a string, is the outward feather.
  EXPECT_NO_THROW(LipContour::fromTemplateJson(smallTemplate({{"edge", ""}}), kCanvas));
  EXPECT_NO_THROW(LipContour::fromTemplateJson(smallTemplate({{"edge", "3"}}), kCanvas));
  // Only the canvas's integer part is compared, for the template and for its map.
  EXPECT_NO_THROW(LipContour::fromTemplateJson(smallTemplate({{"canvas", "64.9"}}), kCanvas));
  const std::string zeroRow = "[0, 0, 0, 0, 0, 0, 0, 0]";
  EXPECT_NO_THROW(
      LipContour::fromTemplateJson(smallTemplate({{"lip_map", smallMap(zeroRow, R"(, "canvas": 64.5)")}}), kCanvas));
  // A map's canvas that is not a number is not compared.
  EXPECT_NO_THROW(
      LipContour::fromTemplateJson(smallTemplate({{"lip_map", smallMap(zeroRow, R"(, "canvas": "128")")}}), kCanvas));
  // The map's rows replace the template's.
  const std::string twoAnchors = smallMap("[0, 0, 0, 0]", R"(, "lip_idx": [20, 1])");
  const LipContour c =
      LipContour::fromTemplateJson(smallTemplate({{"lip_idx", "[6, 12]"}, {"lip_map", twoAnchors}}), kCanvas);
  EXPECT_EQ(c.anchorIdx(), (std::vector<int32_t>{20, 1}));
}

TEST(LipTemplate, MapAndContourRefuseShapesThatDoNotFit) {
  const double u[] = {-1, 0, 0, -1, 1, 0};
  const int32_t rows[] = {17, 18, 19, 20, 6, 12, 14, 1, 7};
  const std::vector<double> W(6 * 18, 0.0), b(6, 0.0);
  const std::string shape = "lip_template.v1.json: lip_map shape does not match the template";
  auto attach = [&](int rowCount, int cols, const int32_t* idx, int k) {
    return errorOf([&] {
      LipContour c(kCanvas, 2.0f, u, 3, rows, 4);
      c.attachMap(W.data(), b.data(), rowCount, cols, idx, k);
    });
  };
  EXPECT_EQ(attach(6, 8, rows, 4), "");
  EXPECT_EQ(attach(8, 8, rows, 4), shape);   // rows are not 2 nv
  EXPECT_EQ(attach(6, 6, rows, 4), shape);   // columns are not 2 k
  EXPECT_EQ(attach(6, 0, rows, 0), shape);   // no anchors
  EXPECT_EQ(attach(6, 18, rows, 9), shape);  // more than eight anchors
  const int32_t outside[] = {17, 21};
  EXPECT_EQ(attach(6, 4, outside, 2), "lip_template.v1.json: lip_map lip_idx names a row outside 0..20");
  EXPECT_EQ(errorOf([&] { (void)LipContour(kCanvas, 2.0f, u, 3, outside, 2); }),
            "lip_template.v1.json: lip_idx names keypoint row 21, and a kd row is 0..20");
  EXPECT_EQ(errorOf([&] { (void)LipContour(kCanvas, 2.0f, u, 0, rows, 4); }),
            "lip_template.v1.json: carries no non-empty `u_canon` array");
}

}  // namespace
