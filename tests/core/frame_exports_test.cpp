// Rendering, pasting and fetching frames one at a time, as a host does through le/le.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "le/le.h"
#include "support/temp_dir.h"

namespace {

const std::string kFixtures = LE_TEST_FIXTURES;

template <class T>
std::vector<T> readArray(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<T> out(bytes.size() / sizeof(T));
  std::copy_n(bytes.data(), out.size() * sizeof(T), reinterpret_cast<char*>(out.data()));
  return out;
}

// A session on a baked bundle with its stderr swallowed, destroyed with the fixture.
class Frames : public testing::Test {
 protected:
  void open(const std::string& fixture, int threads = 1) { openPath(kFixtures + "/" + fixture, threads); }
  void openPath(const std::string& bundle, int threads = 1) {
    testing::internal::CaptureStderr();
    ctx_ = le_create(bundle.c_str(), "b1", threads, nullptr);
    ASSERT_NE(ctx_, nullptr) << le_last_error();
    W_ = le_width(ctx_);
    H_ = le_height(ctx_);
    crop_ = le_crop(ctx_);
    kp_ = readArray<float>(bundle + "/xs_target.bin");
  }
  void SetUp() override { open("test"); }
  void TearDown() override {
    le_destroy(ctx_);
    log_ = testing::internal::GetCapturedStderr();
  }
  const float* kp(int t) const { return kp_.data() + size_t(t) * LE_HOST_KP_FLOATS; }
  size_t rgbBytes() const { return size_t(W_) * size_t(H_) * 3; }
  size_t rgbaBytes() const { return size_t(W_) * size_t(H_) * 4; }

  le_ctx* ctx_ = nullptr;
  int W_ = 0, H_ = 0, crop_ = 0;
  std::vector<float> kp_;
  std::string log_;
};

TEST_F(Frames, ArgumentErrorsSetTheirTexts) {
  const int NT = le_nt(ctx_);
  std::vector<uint8_t> out(rgbaBytes());
  const float* k = kp(0);
  struct Case {
    std::function<bool()> fails;
    const char* text;
  };
  const Case cases[] = {
      {[&] { return !le_render_kp_crop(nullptr, 0, k, k); }, "le_render_kp_crop: bad args"},
      {[&] { return !le_render_kp_crop(ctx_, NT, k, k); }, "le_render_kp_crop: bad args"},
      {[&] { return !le_render_kp_crop(ctx_, -1, k, k); }, "le_render_kp_crop: bad args"},
      {[&] { return !le_render_kp_crop(ctx_, 0, nullptr, k); }, "le_render_kp_crop: bad args"},
      {[&] { return !le_render_kp_crop(ctx_, 0, k, nullptr); }, "le_render_kp_crop: bad args"},
      {[&] { return !le_render_drive_crop(ctx_, le_drive_frames(ctx_)); }, "le_render_drive_crop: bad frame index"},
      {[&] { return !le_render_drive_crop(nullptr, 0); }, "le_render_drive_crop: bad frame index"},
      {[&] { return !le_paste_last(ctx_, 0); }, "le_paste_last: bad args / no prior render"},
      {[&] { return !le_paste_last(nullptr, 0); }, "le_paste_last: bad args / no prior render"},
      {[&] { return !le_paste_crop(ctx_, 0, k, out.data(), rgbBytes() - 1); }, "le_paste_crop: bad args / out too small"},
      {[&] { return !le_paste_crop(ctx_, NT, k, out.data(), rgbBytes()); }, "le_paste_crop: bad args / out too small"},
      {[&] { return !le_paste_crop(ctx_, 0, nullptr, out.data(), rgbBytes()); }, "le_paste_crop: bad args / out too small"},
      {[&] { return !le_paste_crop(ctx_, 0, k, nullptr, rgbBytes()); }, "le_paste_crop: bad args / out too small"},
      {[&] { return !le_paste_crop(nullptr, 0, k, out.data(), rgbBytes()); }, "le_paste_crop: bad args / out too small"},
      {[&] { return !le_target_frame(ctx_, NT); }, "le_target_frame: bad args"},
      {[&] { return !le_target_frame(nullptr, 0); }, "le_target_frame: bad args"},
      {[&] { return !le_render_kp_rgba(nullptr, 0, k, k, out.data(), out.size()); }, "le_render_kp_rgba: bad args"},
      {[&] { return !le_render_kp_rgba(ctx_, NT, k, k, out.data(), out.size()); }, "le_render_kp_rgba: bad args"},
      {[&] { return !le_render_drive_rgba(ctx_, -1, out.data(), out.size()); }, "le_render_drive_rgba: bad frame index"},
      {[&] { return !le_render_drive_rgba(nullptr, 0, out.data(), out.size()); },
       "le_render_drive_rgba: bad frame index"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_TRUE(cases[i].fails()) << i;
    EXPECT_STREQ(le_last_error(), cases[i].text) << i;
  }
  // None of these opened the director.
  EXPECT_EQ(testing::internal::GetCapturedStderr().find("director ep="), std::string::npos);
  testing::internal::CaptureStderr();
}

TEST_F(Frames, RenderedCropIsOwnedByTheSessionAndOverwrittenByTheNextRender) {
  const float* first = le_render_kp_crop(ctx_, 3, kp(3), kp(3));
  ASSERT_NE(first, nullptr) << le_last_error();
  EXPECT_STREQ(le_last_error(), "");
  const size_t n = size_t(3) * crop_ * crop_;
  const std::vector<float> copy(first, first + n);
  EXPECT_TRUE(std::all_of(copy.begin(), copy.end(), [](float v) { return v >= 0.0f && v <= 1.0f; }));

  const float* second = le_render_kp_crop(ctx_, 7, kp(7), kp(7));
  ASSERT_EQ(second, first);
  EXPECT_NE(std::vector<float>(second, second + n), copy);
  // Pasting reads the crop and leaves it as it was.
  const std::vector<float> secondCopy(second, second + n);
  ASSERT_NE(le_paste_last(ctx_, 7), nullptr) << le_last_error();
  EXPECT_EQ(std::vector<float>(second, second + n), secondCopy);
}

TEST_F(Frames, PasteLastEqualsPasteCropOfTheSameCropAndFrame) {
  const float* crop = le_render_kp_crop(ctx_, 5, kp(5), kp(5));
  ASSERT_NE(crop, nullptr);
  std::vector<uint8_t> out(rgbBytes());
  ASSERT_EQ(le_paste_crop(ctx_, 5, crop, out.data(), out.size()), 1) << le_last_error();
  EXPECT_STREQ(le_last_error(), "");
  const uint8_t* last = le_paste_last(ctx_, 5);
  ASSERT_NE(last, nullptr);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), last));
  // The session's frame buffer is one buffer, reused by every paste.
  EXPECT_EQ(le_paste_last(ctx_, 6), last);
  // A target frame is the driver frame as decoded: the paste changes the face, not the corners.
  const uint8_t* target = le_target_frame(ctx_, 5);
  ASSERT_NE(target, nullptr) << le_last_error();
  EXPECT_TRUE(std::equal(target, target + 3 * 4, out.begin()));
  EXPECT_FALSE(std::equal(out.begin(), out.end(), target));
}

TEST_F(Frames, RgbaRenderWithTooSmallABufferStillRenders) {
  std::vector<uint8_t> out(rgbaBytes() - 1, 7);
  EXPECT_EQ(le_render_kp_rgba(ctx_, 2, kp(2), kp(2), out.data(), out.size()), 0);
  EXPECT_STREQ(le_last_error(), "le_render_kp_rgba: out buffer too small");
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t v) { return v == 7; }));
  EXPECT_EQ(le_render_kp_rgba(ctx_, 2, kp(2), kp(2), nullptr, rgbaBytes()), 0);
  EXPECT_STREQ(le_last_error(), "le_render_kp_rgba: out buffer too small");
  EXPECT_NE(le_paste_last(ctx_, 2), nullptr) << le_last_error();
  EXPECT_EQ(le_render_drive_rgba(ctx_, 1, out.data(), out.size()), 0);
  EXPECT_STREQ(le_last_error(), "le_render_drive_rgba: out buffer too small");
  EXPECT_NE(le_paste_last(ctx_, 1), nullptr) << le_last_error();
}

// A keypoint that is not finite renders a black blob; every render refuses it, names the value,
// and leaves no crop for le_paste_last.
struct NonFinite {
  const char* name;
  bool rgba;
  bool driving;  // the bad value sits in kd, else in ks
  int index;
  float value;
  const char* text;
};

void PrintTo(const NonFinite& c, std::ostream* os) { *os << c.name; }

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

class NonFiniteKeypoints : public Frames, public testing::WithParamInterface<NonFinite> {};

TEST_P(NonFiniteKeypoints, AreRefusedWithTheValueNamed) {
  const NonFinite& c = GetParam();
  ASSERT_NE(le_render_kp_crop(ctx_, 3, kp(3), kp(3)), nullptr) << le_last_error();
  std::vector<float> ks(kp(3), kp(3) + LE_HOST_KP_FLOATS), kd = ks;
  (c.driving ? kd : ks)[size_t(c.index)] = c.value;
  std::vector<uint8_t> out(rgbaBytes(), 7);
  if (c.rgba) {
    EXPECT_EQ(le_render_kp_rgba(ctx_, 3, ks.data(), kd.data(), out.data(), out.size()), 0);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t v) { return v == 7; }));
  } else {
    EXPECT_EQ(le_render_kp_crop(ctx_, 3, ks.data(), kd.data()), nullptr);
  }
  EXPECT_STREQ(le_last_error(), c.text);
  EXPECT_EQ(le_paste_last(ctx_, 3), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Values, NonFiniteKeypoints,
    testing::Values(
        NonFinite{"NanDrivingLip", false, true, 37, kNaN,
                  "le_render_kp_crop: keypoint kd[37] (row 12, y) is nan; keypoints must be finite"},
        NonFinite{"InfSourceFirst", false, false, 0, kInf,
                  "le_render_kp_crop: keypoint ks[0] (row 0, x) is inf; keypoints must be finite"},
        NonFinite{"MinusInfSourceLast", false, false, 62, -kInf,
                  "le_render_kp_crop: keypoint ks[62] (row 20, z) is -inf; keypoints must be finite"},
        NonFinite{"RgbaNanDriving", true, true, 5, kNaN,
                  "le_render_kp_rgba: keypoint kd[5] (row 1, z) is nan; keypoints must be finite"},
        NonFinite{"RgbaInfSource", true, false, 61, kInf,
                  "le_render_kp_rgba: keypoint ks[61] (row 20, y) is inf; keypoints must be finite"}),
    [](const testing::TestParamInfo<NonFinite>& info) { return std::string(info.param.name); });

TEST_F(Frames, NonFiniteKeypointInTheBundlesIdleLoopIsRefusedAtItsStep) {
  le::test::TempDir dir;
  const std::string bundle = dir / "test";
  std::filesystem::copy(kFixtures + "/test", bundle, std::filesystem::copy_options::recursive);
  std::vector<float> xd = readArray<float>(bundle + "/drive/xd.f32");
  xd[size_t(2) * LE_HOST_KP_FLOATS + 37] = kNaN;
  le::test::writeFile(bundle + "/drive/xd.f32",
                      std::string(reinterpret_cast<const char*>(xd.data()), xd.size() * sizeof(float)));
  TearDown();
  openPath(bundle);

  ASSERT_NE(le_render_drive_crop(ctx_, 1), nullptr) << le_last_error();
  EXPECT_EQ(le_render_drive_crop(ctx_, 2), nullptr);
  EXPECT_STREQ(le_last_error(),
               "le_render_drive_crop: idle-loop step 2 of the bundle: keypoint xd[37] (row 12, y) is nan; keypoints "
               "must be finite");
  EXPECT_EQ(le_paste_last(ctx_, 2), nullptr);
  std::vector<uint8_t> out(rgbaBytes());
  EXPECT_EQ(le_render_drive_rgba(ctx_, 2, out.data(), out.size()), 0);
  EXPECT_STREQ(le_last_error(),
               "le_render_drive_rgba: idle-loop step 2 of the bundle: keypoint xd[37] (row 12, y) is nan; keypoints "
               "must be finite");
}

// A render that fails leaves no crop behind: le_paste_last must not paste the one before it.
TEST_F(Frames, EveryFailedRenderForgetsTheLastCrop) {
  const int NT = le_nt(ctx_);
  std::vector<uint8_t> out(rgbaBytes());
  const float* k = kp(0);
  const std::function<bool()> failingRenders[] = {
      [&] { return !le_render_kp_crop(ctx_, NT, k, k); },
      [&] { return !le_render_kp_crop(ctx_, 0, nullptr, k); },
      [&] { return !le_render_drive_crop(ctx_, -1); },
      [&] { return !le_render_kp_rgba(ctx_, -1, k, k, out.data(), out.size()); },
      [&] { return !le_render_drive_rgba(ctx_, le_drive_frames(ctx_), out.data(), out.size()); },
  };
  for (size_t i = 0; i < std::size(failingRenders); ++i) {
    ASSERT_NE(le_render_kp_crop(ctx_, 1, kp(1), kp(1)), nullptr) << le_last_error();
    ASSERT_NE(le_paste_last(ctx_, 1), nullptr) << le_last_error();
    EXPECT_TRUE(failingRenders[i]()) << i;
    EXPECT_EQ(le_paste_last(ctx_, 1), nullptr) << i;
    EXPECT_STREQ(le_last_error(), "le_paste_last: bad args / no prior render") << i;
  }
}

// The driver's own text already names the component; the export adds only its own name.
TEST_F(Frames, DriverFailureNamesTheExportAndTheComponentOnce) {
  TearDown();
  le::test::TempDir dir;
  const std::string bundle = dir / "bundle";
  std::filesystem::copy(kFixtures + "/test", bundle, std::filesystem::copy_options::recursive);
  // The first frame is checked at open; a later frame that no longer decodes fails at its pull.
  const std::string jpeg = bundle + "/target_frames/frame_000005.jpg";
  le::test::writeFile(jpeg, "not a jpeg");
  openPath(bundle);
  ASSERT_NE(le_render_kp_crop(ctx_, 5, kp(5), kp(5)), nullptr) << le_last_error();
  const std::string why = "le_driver: cannot decode " + jpeg;
  EXPECT_EQ(le_paste_last(ctx_, 5), nullptr);
  EXPECT_EQ(std::string(le_last_error()).rfind("le_paste_last: " + why, 0), 0u) << le_last_error();
  std::vector<uint8_t> out(rgbaBytes());
  EXPECT_EQ(le_render_kp_rgba(ctx_, 5, kp(5), kp(5), out.data(), out.size()), 0);
  EXPECT_EQ(std::string(le_last_error()).rfind("le_render_kp_rgba: " + why, 0), 0u) << le_last_error();
  EXPECT_EQ(le_target_frame(ctx_, 5), nullptr);
  EXPECT_EQ(std::string(le_last_error()).rfind("le_target_frame: " + why, 0), 0u) << le_last_error();
  EXPECT_EQ(std::string(le_last_error()).find("le_driver: le_driver"), std::string::npos);
}

TEST_F(Frames, RgbaIsThePastedFrameWithOpaqueAlpha) {
  std::vector<uint8_t> rgba(rgbaBytes(), 0);
  ASSERT_EQ(le_render_kp_rgba(ctx_, 4, kp(4), kp(4), rgba.data(), rgba.size()), 1) << le_last_error();
  const uint8_t* rgb = le_paste_last(ctx_, 4);
  ASSERT_NE(rgb, nullptr);
  for (size_t p = 0; p < size_t(W_) * H_; ++p) {
    ASSERT_EQ(rgba[4 * p + 3], 255) << p;
    ASSERT_TRUE(std::equal(rgb + 3 * p, rgb + 3 * p + 3, rgba.begin() + 4 * p)) << p;
  }
}

TEST_F(Frames, DriveRgbaPastesIntoTheStepsSourceFrame) {
  // The baked loop of the test person starts in frame order; this copy plays it backwards.
  le::test::TempDir dir;
  const std::string bundle = dir / "test";
  std::filesystem::copy(kFixtures + "/test", bundle, std::filesystem::copy_options::recursive);
  std::vector<int32_t> si(8);
  for (int i = 0; i < 8; ++i) si[size_t(i)] = 11 - i;
  le::test::writeFile(bundle + "/drive/si.i32", std::string(reinterpret_cast<const char*>(si.data()), 32));
  TearDown();
  openPath(bundle);
  const std::vector<float> xs = readArray<float>(bundle + "/drive/xs.f32");
  const std::vector<float> xd = readArray<float>(bundle + "/drive/xd.f32");
  ASSERT_EQ(int(si.size()), le_drive_frames(ctx_));
  const int i = 2;

  std::vector<uint8_t> drive(rgbaBytes()), byKp(rgbaBytes());
  ASSERT_EQ(le_render_drive_rgba(ctx_, i, drive.data(), drive.size()), 1) << le_last_error();
  ASSERT_EQ(le_render_kp_rgba(ctx_, si[size_t(i)], xs.data() + size_t(i) * LE_HOST_KP_FLOATS,
                              xd.data() + size_t(i) * LE_HOST_KP_FLOATS,
                              byKp.data(), byKp.size()),
            1);
  EXPECT_EQ(drive, byKp);
}

TEST_F(Frames, TargetFrameIsTheDriverFrame) {
  const uint8_t* a = le_target_frame(ctx_, 3);
  ASSERT_NE(a, nullptr) << le_last_error();
  EXPECT_STREQ(le_last_error(), "");
  const std::vector<uint8_t> three(a, a + rgbBytes());
  const uint8_t* b = le_target_frame(ctx_, 9);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(std::vector<uint8_t>(b, b + rgbBytes()), three);
  const uint8_t* again = le_target_frame(ctx_, 3);
  EXPECT_EQ(std::vector<uint8_t>(again, again + rgbBytes()), three);
}

TEST_F(Frames, DirectorOpensOnFirstRenderWithTheIntraOpLine) {
  TearDown();
  open("test", 0);
  ASSERT_NE(le_render_kp_crop(ctx_, 0, kp(0), kp(0)), nullptr) << le_last_error();
  ASSERT_NE(le_render_kp_crop(ctx_, 1, kp(1), kp(1)), nullptr);
  const std::string log = testing::internal::GetCapturedStderr();
  testing::internal::CaptureStderr();
  std::smatch m;
  const std::regex line(
      R"(\[le\] director intra-op (\d+) of pool (\d+): the caller did not choose, the core sized it for the le_utt pipeline\n)");
  ASSERT_TRUE(std::regex_search(log, m, line)) << log;
  EXPECT_EQ(std::stoi(m[1]), std::min(std::stoi(m[2]), 2));
  EXPECT_EQ(log.find("director intra-op", size_t(m.position(0) + m.length(0))), std::string::npos) << "printed twice";
  EXPECT_EQ(log.find("director ep="), log.rfind("director ep=")) << "opened twice";

  TearDown();
  open("test", 6);
  ASSERT_NE(le_render_kp_crop(ctx_, 0, kp(0), kp(0)), nullptr);
  const std::string chosen = testing::internal::GetCapturedStderr();
  testing::internal::CaptureStderr();
  EXPECT_EQ(chosen.find("director intra-op"), std::string::npos) << chosen;
  EXPECT_NE(chosen.find("[le] director ep=cpu (ORT CPU EP)"), std::string::npos) << chosen;
}

// The person's lip rows (upper and lower lip, mouth centre, mouth corners and outer lip edges).
constexpr int kLipRows[] = {6, 12, 14, 17, 18, 19, 20};

TEST_F(Frames, MovingOnlyTheLipKeypointsChangesPixelsOnlyAroundTheMouth) {
  TearDown();
  open("test-crop128");
  const int t = 4;
  const std::vector<float> ks(kp(t), kp(t) + LE_HOST_KP_FLOATS);
  std::vector<float> opened = ks;
  for (int row : kLipRows) opened[size_t(row) * 3 + 1] += row == 6 || row == 19 ? -0.01f : 0.06f;

  const size_t plane = size_t(crop_) * crop_;
  const float* crop = le_render_kp_crop(ctx_, t, ks.data(), ks.data());
  ASSERT_NE(crop, nullptr) << le_last_error();
  const std::vector<float> closed(crop, crop + 3 * plane);
  crop = le_render_kp_crop(ctx_, t, ks.data(), opened.data());
  ASSERT_NE(crop, nullptr);

  // The mouth's neighbourhood in crop coordinates, from the lip rows of both poses.
  float x0 = 1, x1 = -1, y0 = 1, y1 = -1;
  for (const std::vector<float>* pose : {&ks, static_cast<const std::vector<float>*>(&opened)})
    for (int row : kLipRows) {
      x0 = std::min(x0, (*pose)[size_t(row) * 3]);
      x1 = std::max(x1, (*pose)[size_t(row) * 3]);
      y0 = std::min(y0, (*pose)[size_t(row) * 3 + 1]);
      y1 = std::max(y1, (*pose)[size_t(row) * 3 + 1]);
    }
  const float margin = 0.25f;
  int changed = 0, outside = 0;
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < crop_; ++y)
      for (int x = 0; x < crop_; ++x) {
        const size_t i = size_t(c) * plane + size_t(y) * crop_ + x;
        if (std::fabs(crop[i] - closed[i]) < 1e-3f) continue;
        ++changed;
        const float u = (x + 0.5f) / crop_ * 2 - 1, v = (y + 0.5f) / crop_ * 2 - 1;
        outside += u < x0 - margin || u > x1 + margin || v < y0 - margin || v > y1 + margin;
      }
  EXPECT_GT(changed, 100);
  EXPECT_EQ(outside, 0) << "of " << changed << " changed values; mouth box x " << x0 << ".." << x1 << " y " << y0
                        << ".." << y1;
}

}  // namespace
