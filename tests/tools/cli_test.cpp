// The command-line tools as a bundle author runs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <utility>

#include "le/le.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace le::test {

namespace {

const char* kManifest =
    R"({"format": "le-bundle-v0", "agent": "ada", "NT": 12, "H": 120, "W": 160, "crop": 64, "amount": 1.3,)"
    R"( "sigma": 2, "ksize": 13, "frames": 8, "M_src_w": 160, "M_src_h": 120})";

}  // namespace

TEST(LeImx, PacksAndListsAndTheLibraryUnwrapsTheSameBytes) {
  TempDir dir;
  writeFile(dir / "src/manifest.json", kManifest);
  writeFile(dir / "src/idle_loop/source_index.i32", std::string(32, '\1'));
  writeFile(dir / "src/paste_mask.u8", std::string(4096, '\xff'));
  ASSERT_EQ(runTool("le-imx pack " + (dir / "src") + " " + (dir / "id.imx")).status, 0);
  ToolRun list = runTool("le-imx list " + (dir / "id.imx"));
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("idle_loop/source_index.i32"), std::string::npos);
  EXPECT_NE(list.out.find("4096"), std::string::npos);

  ToolRun info = runTool("le-info " + (dir / "id"));
  EXPECT_EQ(info.status, 0) << info.out;
  EXPECT_NE(info.out.find("bundle      " + (dir / "id.lebundle")), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("mask_512.u8                      4096 bytes  as paste_mask.u8"), std::string::npos)
      << info.out;
  EXPECT_EQ(readFile(dir / "id.lebundle/idle_loop/source_index.i32"), std::string(32, '\1'));
  EXPECT_EQ(runTool("le-imx list " + (dir / "src/manifest.json")).status, 1);
  EXPECT_EQ(runTool("le-imx").status, 2);
}

TEST(LeInfo, RefusesTwoTopLevelWidthsWithTheAmbiguityText) {
  TempDir dir;
  std::string text = std::string(kManifest);
  text.insert(text.size() - 1, ", \"W\": 640");
  writeFile(dir / "b/manifest.json", text);
  ToolRun r = runTool("le-info " + (dir / "b"), dir / "err.txt");
  EXPECT_EQ(r.status, 1);
  size_t first = text.find("\"W\": ") + 5, second = text.find("\"W\": ", first) + 5;
  EXPECT_EQ(readFile(dir / "err.txt"),
            "manifest: key \"W\" is AMBIGUOUS \xe2\x80\x94 2 scalar occurrences (byte " + std::to_string(first) +
                ", byte " + std::to_string(second) +
                "). A loader that picks one silently installs a number nobody checks. Rename the colliding key (a "
                "nested block must not reuse a name the bundle loader reads: NT/frame_count, H, W, crop/crop_size, "
                "amount, sigma, ksize, frames, M_src_w/paste_source_width, M_src_h/paste_source_height), or "
                "produce the bundle with the legacy manifest layout.\n");
}

namespace {

// The entries of the first video stream as ffprobe reads the file, comma-separated.
std::string probe(const std::string& path,
                  const std::string& entries = "codec_name,width,height,r_frame_rate,nb_read_frames") {
  return runCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=" + entries +
                    " -of csv=p=0 " + path)
      .out;
}

}  // namespace

TEST(LeRender, EncodesTheIdleLoopAndKeypointFilesToH264) {
  TempDir dir;
  const std::string bundle = std::string(LE_TEST_FIXTURES) + "/test";
  ToolRun loop = runTool("le-render " + bundle + " --out " + (dir / "loop.mp4") + " --frames 11", dir / "err");
  ASSERT_EQ(loop.status, 0) << readFile(dir / "err");
  EXPECT_NE(loop.out.find("le-render: 11 frames -> " + (dir / "loop.mp4") + " (160x120, 25 fps, libx264): render "),
            std::string::npos)
      << loop.out;
  EXPECT_NE(loop.out.find(" ms/frame, paste "), std::string::npos) << loop.out;
  EXPECT_EQ(probe(dir / "loop.mp4"), "h264,160,120,25/1,11\n");

  // Three frames of source then driving keypoints, the mouth opening.
  const std::string xs = readFile(bundle + "/xs_target.bin");
  std::string kp;
  for (int f = 0; f < 3; ++f) {
    std::string ks = xs.substr(size_t(f) * 63 * 4, 63 * 4), kd = ks;
    float y;
    std::memcpy(&y, kd.data() + (12 * 3 + 1) * 4, 4);
    y += 0.03f * f;
    std::memcpy(kd.data() + (12 * 3 + 1) * 4, &y, 4);
    kp += ks + kd;
  }
  writeFile(dir / "kp.bin", kp);
  ToolRun fromKp = runTool("le-render " + bundle + " --kp " + (dir / "kp.bin") + " --out " + (dir / "kp.mp4"),
                           dir / "err");
  ASSERT_EQ(fromKp.status, 0) << readFile(dir / "err");
  EXPECT_EQ(probe(dir / "kp.mp4"), "h264,160,120,25/1,3\n");

  writeFile(dir / "bad.bin", kp.substr(1));
  ToolRun bad = runTool("le-render " + bundle + " --kp " + (dir / "bad.bin") + " --out " + (dir / "bad.mp4"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("is 1511 bytes, not a whole number of frames of 126 floats"), std::string::npos) << bad.out;
  EXPECT_EQ(runTool("le-render " + bundle).status, 2);
  EXPECT_EQ(runTool("le-render " + bundle + " --out x.mp4 --loop --kp k").status, 2);
}

class EveryTool : public testing::TestWithParam<const char*> {};

TEST_P(EveryTool, AnswersHelpOnStandardOutput) {
  TempDir dir;
  const std::string tool = GetParam();
  ToolRun r = runTool(tool + " --help", dir / "err");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: " + tool + " ", 0), 0u) << r.out;
  EXPECT_EQ(readFile(dir / "err"), "");
}

TEST_P(EveryTool, AnswersVersionWithTheLibraryVersion) {
  TempDir dir;
  const std::string tool = GetParam();
  ToolRun r = runTool(tool + " --version", dir / "err");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, tool + " (le) " LE_VERSION_STRING "\n");
  EXPECT_EQ(le_version(), unsigned(LE_VERSION_INT));
}

INSTANTIATE_TEST_SUITE_P(Tools, EveryTool,
                         testing::Values("le-info", "le-imx", "le-render", "le-speak", "le-serve"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

namespace {

// A private copy of a baked bundle that a test may damage.
std::string copyOfFixture(const std::string& name, const TempDir& dir) {
  const std::string to = dir / name;
  std::filesystem::copy(std::string(LE_TEST_FIXTURES) + "/" + name, to, std::filesystem::copy_options::recursive);
  return to;
}

}  // namespace

TEST(LeInfoCheck, OpensTheDirectorAndRendersOneFrame) {
  TempDir dir;
  ToolRun r = runTool("le-info --check " + std::string(LE_TEST_FIXTURES) + "/test", dir / "err");
  EXPECT_EQ(r.status, 0) << readFile(dir / "err");
  EXPECT_NE(r.out.find("session     12 frames of 160 x 120, crop 64, 8 idle-loop steps\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("director    model_b1.onnx rendered idle-loop step 0\n"), std::string::npos) << r.out;
}

// Bundles the session accepts or refuses, and the refusal le-info --check reports for each.
struct CheckRefusal {
  const char* name;
  const char* model;
  std::function<void(const std::string& bundle)> damage;
  const char* text;  // the start of the refusal on standard error

  friend void PrintTo(const CheckRefusal& c, std::ostream* os) { *os << c.name; }
};

class LeInfoCheckRefuses : public testing::TestWithParam<CheckRefusal> {};

TEST_P(LeInfoCheckRefuses, ExitsOneWithTheRefusal) {
  TempDir dir;
  const std::string bundle = copyOfFixture("test", dir);
  GetParam().damage(bundle);
  ToolRun r = runTool("le-info --check --model " + std::string(GetParam().model) + " " + bundle, dir / "err");
  EXPECT_EQ(r.status, 1) << r.out;
  const std::string err = readFile(dir / "err");
  EXPECT_NE(err.find(GetParam().text), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Bundles, LeInfoCheckRefuses,
    testing::Values(
        CheckRefusal{"DirectorThatIsNotAModel", "b1",
                     [](const std::string& b) { writeFile(b + "/model_b1.onnx", "not a model"); },
                     "le_render_drive_rgba: "},
        CheckRefusal{"ModelKeyWithoutAMember", "b9", [](const std::string&) {}, "le_render_drive_rgba: "},
        CheckRefusal{"SessionThatCannotOpen", "b1",
                     [](const std::string& b) { std::filesystem::remove(b + "/M.f32"); }, "le_create: "}),
    [](const testing::TestParamInfo<CheckRefusal>& info) { return std::string(info.param.name); });

TEST(LeInfoCheck, UsageErrorsExitTwo) {
  EXPECT_EQ(runTool("le-info --check").status, 2);
  EXPECT_EQ(runTool("le-info --bogus x").status, 2);
  EXPECT_EQ(runTool("le-info a b").status, 2);
}

// The last line of a tool's standard error: its own message after the library's log lines.
std::string lastLine(const std::string& text) {
  const size_t end = text.empty() ? 0 : text.size() - 1;
  const size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
  return start == std::string::npos || end == 0 ? text : text.substr(start + 1);
}

// Source then driving keypoints of the test person's first `frames` driver frames.
std::string keypointFrames(int frames) {
  const std::string xs = readFile(std::string(LE_TEST_FIXTURES) + "/test/xs_target.bin");
  std::string kp;
  for (int f = 0; f < frames; ++f) kp += xs.substr(size_t(f) * 63 * 4, 63 * 4) + xs.substr(size_t(f) * 63 * 4, 63 * 4);
  return kp;
}

TEST(LeRender, TagsTheColourOfItsConversion) {
  TempDir dir;
  const std::string bundle = std::string(LE_TEST_FIXTURES) + "/test";
  ToolRun r = runTool("le-render " + bundle + " --out " + (dir / "loop.mp4") + " --frames 2", dir / "err");
  ASSERT_EQ(r.status, 0) << readFile(dir / "err");
  EXPECT_EQ(probe(dir / "loop.mp4", "pix_fmt,color_range,color_space,color_primaries,color_transfer"),
            "yuv420p,tv,bt709,bt709,bt709\n");
}

// Whatever fails after the file is opened, the run fails loudly and no MP4 is left behind that a
// player could take for the whole video.
TEST(LeRender, AFailedRenderRemovesTheUnfinishedFile) {
  TempDir dir;
  const std::string bundle = std::string(LE_TEST_FIXTURES) + "/test";
  std::string kp = keypointFrames(4);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(kp.data() + (2 * 126 + 63 + 37) * 4, &nan, 4);  // frame 2, driving kd[37]
  writeFile(dir / "kp.bin", kp);
  ToolRun r = runTool("le-render " + bundle + " --kp " + (dir / "kp.bin") + " --out " + (dir / "kp.mp4"),
                      dir / "err");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lastLine(readFile(dir / "err")), "le_render_kp_crop: keypoint kd[37] (row 12, y) is nan; keypoints must "
                                             "be finite; removed the unfinished " + (dir / "kp.mp4") + "\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "kp.mp4"));
}

TEST(LeRender, AFailedWriteRemovesTheUnfinishedFile) {
  TempDir dir;
  const std::string bundle = std::string(LE_TEST_FIXTURES) + "/test";
  // A file-size limit in blocks, with the signal ignored so that write() fails with EFBIG: at the
  // header (no block), at a packet or at the trailer. Standard error comes back through a pipe,
  // which the limit does not touch.
  const std::pair<const char*, const char*> limitsAndFrames[] = {{"0", "2"}, {"1", "300"}, {"1", "2"}};
  for (const auto& [limit, frames] : limitsAndFrames) {
    ToolRun r = runCommand("sh -c 'trap \"\" XFSZ; ulimit -f " + std::string(limit) + "; exec " +
                           std::string(LE_TEST_BIN_DIR) + "/le-render " + bundle + " --out " + (dir / "big.mp4") +
                           " --frames " + frames + "'");
    EXPECT_EQ(r.status, 1) << r.out;
    const std::string last = lastLine(r.out);
    EXPECT_EQ(last.rfind("le-render: ", 0), 0u) << last;
    EXPECT_NE(last.find(": File too large; removed the unfinished " + (dir / "big.mp4") + "\n"), std::string::npos)
        << last;
    EXPECT_FALSE(std::filesystem::exists(dir / "big.mp4")) << frames;
  }
  // An output that is not a regular file fails the same way and is left where it was.
  ToolRun full = runTool("le-render " + bundle + " --out /dev/full --frames 2", dir / "err");
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(lastLine(readFile(dir / "err")), "le-render: mp4 header: No space left on device\n");
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
}

// A recorded utterance through the offline stream renderer: one frame per 40 ms after the skip, the
// audio muxed beside them, and the options that belong with --wav refused without it.
TEST(LeRender, RendersARecordedUtteranceWithItsAudio) {
  TempDir dir;
  const std::string bundle = std::string(LE_TEST_FIXTURES) + "/test";
  const std::string encoder = std::string(LE_TEST_FIXTURES) + "/speech/w2v_8s.onnx";
  ASSERT_EQ(runCommand("espeak-ng -w " + (dir / "hello.wav") + " 'Hello there, how are you'").status, 0);
  ToolRun r = runTool("le-render " + bundle + " --wav " + (dir / "hello.wav") + " --encoder " + encoder +
                          " --skip 2 --gain 1.5 --out " + (dir / "talk.mp4"),
                      dir / "err");
  ASSERT_EQ(r.status, 0) << readFile(dir / "err");
  const std::string frames = probe(dir / "talk.mp4", "nb_read_frames");
  const ToolRun duration = runCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + (dir / "hello.wav"));
  const int expected = int(std::ceil(std::stod(duration.out) * 25.0 - 1e-6)) - 2;
  EXPECT_NEAR(std::stoi(frames), expected, 1);
  EXPECT_NE(r.out.find(" frames -> " + (dir / "talk.mp4") + " (160x120, 25 fps, libx264 + aac, "), std::string::npos)
      << r.out;
  EXPECT_EQ(runCommand("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate -of csv=p=0 " +
                       (dir / "talk.mp4"))
                .out,
            "aac,16000\n");

  writeFile(dir / "noise.wav", "this is not audio at all");
  ToolRun bad = runTool("le-render " + bundle + " --wav " + (dir / "noise.wav") + " --encoder " + encoder + " --out " +
                            (dir / "bad.mp4"),
                        dir / "err");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(lastLine(readFile(dir / "err")),
            "le-render: " + (dir / "noise.wav") + " is not an audio file (neither libsndfile nor FFmpeg can read it)\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.mp4"));
  EXPECT_EQ(runTool("le-render " + bundle + " --out x.mp4 --skip 2").status, 2);
  EXPECT_EQ(runTool("le-render " + bundle + " --out x.mp4 --wav a.wav --frames 3").status, 2);
  EXPECT_EQ(runTool("le-render " + bundle + " --out x.mp4 --wav a.wav --skip -1").status, 2);
}

// le-serve refuses a bad command line, a missing motion directory and an address it cannot take
// with one line on standard error and exit status 1, before it serves anything.
TEST(LeServe, RefusesWhatItCannotServe) {
  TempDir dir;
  const std::string bundle = std::string(LE_TEST_FIXTURES) + "/test";
  const struct {
    std::string args, line;
  } cases[] = {
      {bundle, "le-serve: --motion DIR is required (le-serve --help shows the usage)\n"},
      {bundle + " --motion " + bundle + " --port 70000",
       "le-serve: --port must be from 0 to 65535 (le-serve --help shows the usage)\n"},
      {bundle + " --motion " + bundle + " --max-upload 0",
       "le-serve: --max-upload must be from 1 to 1024 (MB) (le-serve --help shows the usage)\n"},
      {bundle + " --motion " + (dir / "none"), "le-serve: no motion directory " + (dir / "none") + "\n"},
  };
  for (const auto& c : cases) {
    ToolRun r = runTool("le-serve " + c.args, dir / "err");
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(lastLine(readFile(dir / "err")), c.line) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
  }
}

}  // namespace le::test
