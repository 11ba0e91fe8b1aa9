// The offline stream renderer as a host uses it: frame counts with and without a skip, the driver
// rows it walks, the gain, and failures part-way through that still deliver the frames before them.
#include "le/le_stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "pipeline/stream_plan.h"
#include "support/temp_dir.h"

namespace {

std::string fixture(const std::string& name) { return std::string(LE_TEST_FIXTURES) + "/" + name; }
std::string encoder() { return fixture("speech/w2v_8s.onnx"); }

struct StreamDeleter {
  void operator()(le_stream* s) const { le_stream_destroy(s); }
};
using StreamPtr = std::unique_ptr<le_stream, StreamDeleter>;

struct Delivered {
  std::vector<int> indices;
  std::vector<std::vector<uint8_t>> frames;
};

void collect(void* user, int index, const uint8_t* rgb, int width, int height) {
  auto* d = static_cast<Delivered*>(user);
  d->indices.push_back(index);
  d->frames.emplace_back(rgb, rgb + size_t(width) * size_t(height) * 3);
}

// A buzz that the animator hears as speech.
std::vector<float> buzz(size_t samples) {
  std::vector<float> a(samples);
  for (size_t i = 0; i < samples; ++i) a[i] = 0.2f * std::sin(float(i) * 0.07f) * (i % 160 < 80 ? 1.f : 0.3f);
  return a;
}

// A copy of the test bundle that a test may spoil.
struct BundleCopy {
  BundleCopy() {
    EXPECT_EQ(std::system(("cp -r " + fixture("test") + "/. " + dir.path()).c_str()), 0);
  }
  le::test::TempDir dir;
};

TEST(StreamPlan, WalksTheDriverRowsAfterTheSkip) {
  const std::vector<float> target = {0, 1, 2};  // one float per row is enough to tell rows apart
  std::vector<float> xs(3 * 63), deltas(6 * 63, 0.5f);
  for (int r = 0; r < 3; ++r) xs[size_t(r) * 63] = target[size_t(r)];
  const le::StreamPlan plan = le::planStream(deltas.data(), 6, 2, 2.f, xs.data(), 3);
  EXPECT_EQ(plan.rows, (std::vector<int32_t>{2, 0, 1, 2}));
  EXPECT_EQ(plan.target[63], 0.f);
  EXPECT_EQ(plan.driving[0], 2.f + 2.f * 0.5f);
  const le::StreamPlan gainless = le::planStream(deltas.data(), 6, 0, 0.f, xs.data(), 3);
  EXPECT_EQ(gainless.driving, gainless.target);
  EXPECT_EQ(le::planStream(deltas.data(), 6, 0, 1.f, xs.data(), 1).rows, std::vector<int32_t>(6, 0));
  EXPECT_EQ(le::planStream(deltas.data(), 2, 2, 1.f, xs.data(), 3).frames(), 0);
}

TEST(Stream, OneFrameOfAudioGivesOneFrameUnlessSkipped) {
  StreamPtr s(le_stream_create(fixture("test").c_str(), encoder().c_str(), 2, 0, 1.f));
  ASSERT_TRUE(s) << le_stream_last_error();
  EXPECT_EQ(le_stream_width(s.get()), 160);
  EXPECT_EQ(le_stream_height(s.get()), 120);
  const std::vector<float> audio = buzz(640);
  Delivered d;
  EXPECT_EQ(le_stream_run(s.get(), audio.data(), 640, collect, &d), 1) << le_stream_last_error();
  EXPECT_EQ(d.indices, std::vector<int>{0});
  EXPECT_EQ(le_stream_run(s.get(), audio.data(), 640, nullptr, nullptr), 1);
  StreamPtr skipping(le_stream_create(fixture("test").c_str(), encoder().c_str(), 2, 1, 1.f));
  ASSERT_TRUE(skipping);
  Delivered none;
  EXPECT_EQ(le_stream_run(skipping.get(), audio.data(), 640, collect, &none), 0);
  EXPECT_TRUE(none.indices.empty());
}

TEST(StreamThreads, DeliversEveryFrameInOrderAndGainZeroRendersTheTargetRows) {
  const std::vector<float> audio = buzz(640 * 30);
  Delivered spoken, still;
  StreamPtr s(le_stream_create(fixture("test").c_str(), encoder().c_str(), 2, 0, 1.f));
  StreamPtr gainless(le_stream_create(fixture("test").c_str(), encoder().c_str(), 2, 0, 0.f));
  ASSERT_TRUE(s && gainless) << le_stream_last_error();
  ASSERT_EQ(le_stream_run(s.get(), audio.data(), int(audio.size()), collect, &spoken), 30) << le_stream_last_error();
  ASSERT_EQ(le_stream_run(gainless.get(), audio.data(), int(audio.size()), collect, &still), 30);
  for (int k = 0; k < 30; ++k) EXPECT_EQ(spoken.indices[size_t(k)], k);
  // With gain 0 the driving keypoints are the target row's: the same audio gives another picture.
  size_t differing = 0;
  for (int k = 0; k < 30; ++k) differing += spoken.frames[size_t(k)] != still.frames[size_t(k)];
  EXPECT_GT(differing, 0u);
  // And frames 12 apart (the test bundle's NT) show the same driver row and target keypoints.
  EXPECT_EQ(still.frames[1], still.frames[13]);
}

TEST(Stream, ARenderFailurePartWayDeliversTheFramesBeforeIt) {
  BundleCopy bundle;
  // Row 5 of the target keypoints is not a number: frame 5's render is refused.
  std::fstream xs(bundle.dir / "xs_target.bin", std::ios::binary | std::ios::in | std::ios::out);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  xs.seekp(5 * 63 * 4);
  xs.write(reinterpret_cast<const char*>(&nan), sizeof nan);
  xs.close();
  StreamPtr s(le_stream_create(bundle.dir.path().c_str(), encoder().c_str(), 2, 0, 1.f));
  ASSERT_TRUE(s) << le_stream_last_error();
  const std::vector<float> audio = buzz(640 * 12);
  Delivered d;
  EXPECT_EQ(le_stream_run(s.get(), audio.data(), int(audio.size()), collect, &d), -1);
  EXPECT_STREQ(le_stream_last_error(), "le_stream_run: render/paste failed");
  EXPECT_EQ(d.indices, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(Stream, APasteFailurePartWayDeliversTheFramesBeforeIt) {
  BundleCopy bundle;
  le::test::writeFile(bundle.dir / "target_frames/frame_000007.jpg", "not a picture");
  StreamPtr s(le_stream_create(bundle.dir.path().c_str(), encoder().c_str(), 2, 0, 1.f));
  ASSERT_TRUE(s) << le_stream_last_error();
  const std::vector<float> audio = buzz(640 * 12);
  Delivered d;
  EXPECT_EQ(le_stream_run(s.get(), audio.data(), int(audio.size()), collect, &d), -1);
  EXPECT_STREQ(le_stream_last_error(), "le_stream_run: render/paste failed");
  EXPECT_EQ(d.indices.size(), 7u);
}

TEST(Stream, CreationRefusals) {
  EXPECT_EQ(le_stream_create(nullptr, encoder().c_str(), 1, 0, 1.f), nullptr);
  EXPECT_STREQ(le_stream_last_error(), "le_stream_create: NULL bundle or encoder path");
  EXPECT_EQ(le_stream_create("/nonexistent/bundle", encoder().c_str(), 1, 0, 1.f), nullptr);
  EXPECT_EQ(std::string(le_stream_last_error()).rfind("le_create: ", 0), 0u) << le_stream_last_error();
  EXPECT_EQ(std::string(le_stream_last_error()).find("le_create: le_create:"), std::string::npos);
  EXPECT_EQ(le_stream_create(fixture("test").c_str(), "/nonexistent/w2v.onnx", 1, 0, 1.f), nullptr);
  EXPECT_EQ(std::string(le_stream_last_error()).rfind("le_fca_create: ", 0), 0u) << le_stream_last_error();
  EXPECT_EQ(le_stream_create(fixture("test").c_str(), encoder().c_str(), 1, -1, 1.f), nullptr);
  EXPECT_STREQ(le_stream_last_error(), "le_stream_create: skip -1 is negative");
  BundleCopy bundle;
  le::test::writeFile(bundle.dir / "xs_target.bin", "short");
  EXPECT_EQ(le_stream_create(bundle.dir.path().c_str(), encoder().c_str(), 1, 0, 1.f), nullptr);
  EXPECT_STREQ(le_stream_last_error(), "le_stream_create: cannot read xs_target.bin (NT*63 f32)");
  EXPECT_EQ(le_stream_run(nullptr, nullptr, 0, nullptr, nullptr), -1);
  le_stream_destroy(nullptr);
  EXPECT_EQ(le_stream_width(nullptr), 0);
}

}  // namespace
