#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <unistd.h>
#include <initializer_list>
#include <string>
#include <utility>

#include "bundle/manifest.h"
#include "bundle/manifest_key.h"
#include "support/temp_dir.h"

using namespace le::manifest_key;
using le::test::TempDir;
using le::test::writeFile;

namespace {

const std::string kBase =
    R"("format": "le-bundle-v0", "agent": "ada", "NT": 12, "H": 120, "W": 160, "crop": 64,)"
    R"( "amount": 1.5, "sigma": 2.5, "ksize": 9, "frames": 8)";

std::string withStamp(const std::string& extra = "") {
  return "{" + kBase + R"(, "M_src_w": 160, "M_src_h": 120)" + extra + "}";
}

// Loads a manifest text from a fresh bundle directory; returns the error text or "".
std::string loadError(const std::string& text, le::Manifest* out = nullptr, std::string* root = nullptr) {
  static TempDir dir;
  static int n = 0;
  std::string bundle = dir / ("b" + std::to_string(n++));
  writeFile(bundle + "/manifest.json", text);
  if (root) *root = bundle;
  try {
    le::Manifest m = le::loadManifest(bundle);
    if (out) *out = m;
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string ambiguity(const std::string& key, const std::string& where, int count) {
  return "manifest: key \"" + key + "\" is AMBIGUOUS \xe2\x80\x94 " + std::to_string(count) +
         " scalar occurrences (" + where +
         "). A loader that picks one silently installs a number nobody checks. Rename the colliding key (a "
         "nested block must not reuse a name the bundle loader reads: NT/frame_count, H, W, crop/crop_size, "
         "amount, sigma, ksize, frames, M_src_w/paste_source_width, M_src_h/paste_source_height), or produce "
         "the bundle with the legacy manifest layout.";
}

}  // namespace

TEST(ManifestKey, HitsCarryDepthScalarnessAndSkipStrings) {
  std::string text = R"({"W": 1, "s": "\"W\": 2", "b": {"W": [3]}, "c": {"d": {"W" :  4}}})";
  auto hits = keyHits(text, "W");
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0].depth, 1);
  EXPECT_TRUE(hits[0].scalar);
  EXPECT_EQ(text[hits[0].pos], '1');
  EXPECT_EQ(hits[1].depth, 2);
  EXPECT_FALSE(hits[1].scalar);
  EXPECT_EQ(hits[2].depth, 3);
  EXPECT_EQ(text[hits[2].pos], '4');
  EXPECT_TRUE(keyHits(R"({"a": "W: 1", "Wx": 2})", "W").empty());
  EXPECT_TRUE(keyHits(R"({"W": 1, "unterminated)", "X").empty());
}

TEST(ManifestKey, ChoosesTopLevelThenTheOnlyNestedOne) {
  EXPECT_EQ(number(R"({"H": 720, "blk": {"H": 1}})", "H"), 720);
  EXPECT_EQ(number(R"({"W": {"x": 1}, "blk": {"W": 640}})", "W"), 640);
  EXPECT_EQ(number(R"({"blk": {"Q": 7}})", "Q"), 7);
  EXPECT_EQ(scalarValuePos(R"({"a": 1})", "Q"), kNotFound);
}

TEST(ManifestKey, AmbiguityNamesEveryOffset) {
  std::string top = R"({"W": 1, "W": 2})";
  try {
    scalarValuePos(top, "W");
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), ambiguity("W", "byte 6, byte 14", 2));
  }
  EXPECT_THROW(scalarValuePos(R"({"a": {"Q": 1}, "b": {"Q": 2}})", "Q"), std::runtime_error);
}

TEST(ManifestKey, StringHelpers) {
  std::string out;
  EXPECT_EQ(strField(R"({"agent": "ada"})", "agent"), "ada");
  EXPECT_THROW(strField(R"({"agent": "ada)", "agent"), std::runtime_error);
  // A value that is not a string never borrows the next key's name.
  EXPECT_THROW(strField(R"({"agent": 5, "NT": 1})", "agent"), std::runtime_error);
  EXPECT_TRUE(optStr(R"({"p": "x.mov"})", "p", out));
  EXPECT_EQ(out, "x.mov");
  EXPECT_FALSE(optStr(R"({"p": ""})", "p", out));
  EXPECT_FALSE(optStr(R"({"p": 3})", "p", out));
  EXPECT_FALSE(optStr(R"({"q": "a"})", "p", out));
}

TEST(Manifest, LoadsEveryFieldWithAliases) {
  le::Manifest m;
  ASSERT_EQ(loadError(withStamp(), &m), "");
  EXPECT_EQ(m.agent, "ada");
  EXPECT_EQ(m.NT, 12);
  EXPECT_EQ(m.W, 160);
  EXPECT_EQ(m.H, 120);
  EXPECT_EQ(m.crop, 64);
  EXPECT_FLOAT_EQ(m.amount, 1.5f);
  EXPECT_FLOAT_EQ(m.sigma, 2.5f);
  EXPECT_EQ(m.ksize, 9);
  EXPECT_EQ(m.frames, 8);
  EXPECT_EQ(m.msrcW, 160);
  EXPECT_EQ(m.msrcH, 120);

  std::string aliased = R"({"format": "le-bundle-v0", "agent": "a", "frame_count": 12.9, "H": 1, "W": 1,)"
                        R"( "crop_size": 256, "amount": 1, "sigma": 1, "ksize": 3, "frames": 0,)"
                        R"( "paste_source_width": 1920, "M_src_h": -1e300, "paste_source_height": 1080})";
  ASSERT_EQ(loadError(aliased, &m), "");
  EXPECT_EQ(m.NT, 12);
  EXPECT_EQ(m.crop, 256);
  EXPECT_EQ(m.msrcW, 1920);
  EXPECT_EQ(m.msrcH, 1080);
  ASSERT_EQ(loadError(withStamp(R"(, "crop_size": 256)"), &m), "");
  EXPECT_EQ(m.crop, 64);
}

TEST(Manifest, RefusalsNameTheirCause) {
  std::string root;
  std::string error = loadError(R"({"format": "le-bundle-v1", "agent": "a"})", nullptr, &root);
  EXPECT_EQ(error, "not an le-bundle-v0: " + root);
  std::string twoW = "{" + kBase + R"(, "W": 2, "M_src_w": 1, "M_src_h": 1})";
  size_t first = twoW.find("\"W\": ") + 5, second = twoW.find("\"W\": ", first) + 5;
  EXPECT_EQ(loadError(twoW),
            ambiguity("W", "byte " + std::to_string(first) + ", byte " + std::to_string(second), 2));
  EXPECT_EQ(loadError(R"({"format": "le-bundle-v0", "agent": "a", "H": 1})"), "manifest: missing key NT/frame_count");
  EXPECT_EQ(loadError(withStamp().replace(withStamp().find("\"crop\": 64"), 10, "\"crop\": 0")), "manifest: bad dims");
  EXPECT_EQ(loadError(withStamp().replace(withStamp().find("\"NT\": 12"), 8, "\"NT\": 1e99")), "manifest: NT out of range");
  EXPECT_EQ(loadError("{" + kBase + R"(, "M_src_w": 0, "M_src_h": 120})"),
            "manifest: bad paste-space stamp (M_src_w/M_src_h must be > 0)");
  EXPECT_EQ(loadError("", nullptr, &root), "manifest: missing key format");
  try {
    le::loadManifest("/nonexistent/bundle");
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "cannot open /nonexistent/bundle/manifest.json");
  }
}

TEST(Manifest, MissingStampIsRefusedUnlessTheLegacyAssumptionIsAskedFor) {
  std::string root;
  const std::string unstamped = "{" + kBase + "}";
  unsetenv("OMBRINE2_MSRC_MISSING_OK");
  std::string error = loadError(unstamped, nullptr, &root);
  EXPECT_EQ(error,
            root + "/manifest.json declares no paste-space stamp (M_src_w/M_src_h, aka paste_source_width/height)"
                   " \xe2\x80\x94 the canvas is 160x120, so M cannot be placed: absence is not evidence that M was"
                   " authored at that size. Re-stamp the bundle (models/ombrine-2/inference/backfill_msrc.py), or"
                   " set OMBRINE2_MSRC_MISSING_OK=1 to restore the legacy assumption.");
  setenv("OMBRINE2_MSRC_MISSING_OK", "yes", 1);
  EXPECT_NE(loadError(unstamped), "");
  setenv("OMBRINE2_MSRC_MISSING_OK", "1", 1);
  le::Manifest m;
  testing::internal::CaptureStderr();
  EXPECT_EQ(loadError(unstamped, &m, &root), "");
  std::string warning = testing::internal::GetCapturedStderr();
  unsetenv("OMBRINE2_MSRC_MISSING_OK");
  EXPECT_EQ(m.msrcW, 160);
  EXPECT_EQ(m.msrcH, 120);
  EXPECT_EQ(warning.rfind("[le] WARNING OMBRINE2_MSRC_MISSING_OK=1: " + root +
                              "/manifest.json carries no paste-space stamp; ASSUMING M was authored on this "
                              "160x120 canvas.",
                          0),
            0u);
  EXPECT_EQ(warning.find('\n'), warning.size() - 1);
}

TEST(Manifest, LipTemplateAndModelPath) {
  std::string root;
  le::Manifest m;
  ASSERT_EQ(loadError(withStamp(), &m, &root), "");
  EXPECT_TRUE(m.lipTemplateJson.empty());
  EXPECT_EQ(m.modelPath("b4"), root + "/model_b4.onnx");
  writeFile(root + "/lip_template.v1.json", "{\"lip\": 1}");
  writeFile(root + "/render_model.batch4.onnx", "x");
  m = le::loadManifest(root);
  EXPECT_EQ(m.lipTemplateJson, "{\"lip\": 1}");
  EXPECT_EQ(m.modelPath("b4"), root + "/render_model.batch4.onnx");
}

// JSON holds no infinities or NaNs, but the scanner reads them: every numeric key refuses them at
// load, naming the key, instead of handing them to sizes and blend weights.
struct BadNumber {
  const char* key;
  const char* value;
  const char* error;
};

class NonFiniteNumber : public testing::TestWithParam<BadNumber> {};

TEST_P(NonFiniteNumber, IsRefusedNamingItsKey) {
  const std::string from = std::string("\"") + GetParam().key + "\": ";
  std::string text = withStamp();
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos);
  const size_t end = text.find_first_of(",}", at);
  text.replace(at + from.size(), end - at - from.size(), GetParam().value);
  EXPECT_EQ(loadError(text), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, NonFiniteNumber,
    testing::Values(BadNumber{"amount", "inf", "manifest: amount is not a finite number"},
                    BadNumber{"amount", "-Infinity", "manifest: amount is not a finite number"},
                    BadNumber{"amount", "1e39", "manifest: amount out of range"},
                    BadNumber{"sigma", "nan", "manifest: sigma is not a finite number"},
                    BadNumber{"NT", "inf", "manifest: NT is not a finite number"},
                    BadNumber{"W", "nan", "manifest: W is not a finite number"},
                    BadNumber{"crop", "-inf", "manifest: crop is not a finite number"},
                    BadNumber{"ksize", "inf", "manifest: ksize is not a finite number"},
                    BadNumber{"frames", "nan", "manifest: frames is not a finite number"},
                    BadNumber{"M_src_w", "inf", "manifest: M_src_w is not a finite number"}),
    [](const testing::TestParamInfo<BadNumber>& info) {
      std::string name = std::string(info.param.key) + "_" + info.param.value;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

// Sides past any video this library plays are refused before anything is sized by them.
TEST(Manifest, ImageSidesHaveALimit) {
  for (const char* key : {"W", "H", "crop"}) {
    std::string text = withStamp();
    const std::string from = std::string("\"") + key + "\": ";
    const size_t at = text.find(from) + from.size();
    text.replace(at, text.find_first_of(",}", at) - at, "16385");
    EXPECT_EQ(loadError(text), std::string("manifest: ") + key +
                                   " 16385 is larger than 16384, the largest image side a bundle may declare");
  }
}

// Sizes that no real bundle reaches are refused before anything is sized by them, and the text
// names the limit.
TEST(Manifest, CanvasAndFrameCountsHaveLimits) {
  const auto with = [](std::initializer_list<std::pair<const char*, const char*>> values) {
    std::string text = withStamp();
    for (const auto& [key, value] : values) {
      const std::string from = std::string("\"") + key + "\": ";
      const size_t at = text.find(from) + from.size();
      text.replace(at, text.find_first_of(",}", at) - at, value);
    }
    return text;
  };
  EXPECT_EQ(loadError(with({{"W", "16384"}, {"H", "16384"}})),
            "manifest: canvas 16384x16384 is 268435456 pixels, which exceeds the limit of 33177600 (an 8K UHD frame)");
  EXPECT_EQ(loadError(with({{"W", "7680"}, {"H", "4320"}})), "");
  EXPECT_EQ(loadError(with({{"NT", "2160001"}})),
            "manifest: NT 2160001 exceeds the limit of 2160000 frames (a day of video at 25 fps)");
  EXPECT_EQ(loadError(with({{"frames", "2160001"}})),
            "manifest: frames 2160001 exceeds the limit of 2160000 frames (a day of video at 25 fps)");
  EXPECT_EQ(loadError(with({{"NT", "2160000"}, {"frames", "2160000"}})), "");
}

// A manifest file larger than any manifest is refused by its size, before a buffer for it exists
// (the file here is sparse: it costs no disk).
TEST(Manifest, OversizedManifestFileIsRefusedBeforeItIsRead) {
  std::string root;
  ASSERT_EQ(loadError(withStamp(), nullptr, &root), "");
  const std::string path = root + "/manifest.json";
  ASSERT_EQ(truncate(path.c_str(), off_t(le::kMaxManifestBytes) + 1), 0);
  try {
    le::loadManifest(root);
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), path + " holds 16777217 bytes, which exceeds the limit of 16777216 for a manifest "
                                            "or template");
  }
}
