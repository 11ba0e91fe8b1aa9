// le-speak end to end on the test person, with both speech engines: the MP4 it writes (streams,
// frames, the run's shape), its interrupt, and the lips in step with the sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace le::test {

namespace {

const std::string kFixtures = LE_TEST_FIXTURES;
constexpr int kSamplesPerFrame = 640;  // 40 ms at 16 kHz
constexpr int kLeadIn = 12, kTail = 12, kRamp = 6, kInterruptRamp = 4;

// A speech engine: the motion directory and the environment it needs.
struct Engine {
  const char* name;
  std::string motion, env;
};

Engine a2x() { return {"A2x", kFixtures + "/test", "W2V_ONNX=" + kFixtures + "/speech/w2v_8s.onnx "}; }
Engine motionGenerator() { return {"Motion", kFixtures + "/motion-test", ""}; }

struct FrameLine {
  int frame, kind, idx, frameNo;
};

struct SpeakRun {
  ToolRun tool;
  std::string err;
  std::vector<FrameLine> frames;
};

SpeakRun speak(const Engine& e, const TempDir& dir, const std::string& text, const std::string& extra = "") {
  SpeakRun r;
  r.tool = runCommand(e.env + LE_TEST_BIN_DIR "/le-speak " + kFixtures + "/test --motion " + e.motion +
                          " --text '" + text + "' --fast --out " + (dir / "talk.mp4") + " --frames-out " +
                          (dir / "frames.txt") + " " + extra,
                      dir / "err");
  r.err = readFile(dir / "err");
  std::istringstream in(readFile(dir / "frames.txt"));
  FrameLine f;
  while (in >> f.frame >> f.kind >> f.idx >> f.frameNo) r.frames.push_back(f);
  return r;
}

std::string capture(const std::string& command) { return runCommand(command, "/dev/null").out; }

// The decoded sound of the MP4 at 16 kHz mono.
std::vector<int16_t> soundOf(const std::string& mp4) {
  const std::string raw = capture("ffmpeg -nostdin -v error -i " + mp4 + " -f s16le -ac 1 -ar 16000 -");
  std::vector<int16_t> s(raw.size() / 2);
  std::memcpy(s.data(), raw.data(), s.size() * 2);
  return s;
}

// The decoded RGB frames of the MP4, concatenated.
std::string picturesOf(const std::string& mp4) {
  return capture("ffmpeg -nostdin -v error -i " + mp4 + " -f rawvideo -pix_fmt rgb24 -");
}

double rms(const std::vector<int16_t>& s, size_t from, size_t count) {
  double sum = 0;
  size_t n = 0;
  for (size_t i = from; i < std::min(s.size(), from + count); ++i, ++n) sum += double(s[i]) * s[i];
  return n ? std::sqrt(sum / double(n)) : 0.0;
}

int firstOfKind(const std::vector<FrameLine>& frames, int kind) {
  for (const FrameLine& f : frames)
    if (f.kind == kind) return f.frame;
  return -1;
}

int countKind(const std::vector<FrameLine>& frames, int kind) {
  return int(std::count_if(frames.begin(), frames.end(), [&](const FrameLine& f) { return f.kind == kind; }));
}

// Samples espeak-ng gives for text, as le-speak pushes them.
size_t speechSamples(const std::string& text, const TempDir& dir) {
  runTool("le-speak --text '" + text + "' --pcm-out " + (dir / "speech.s16"));
  return readFile(dir / "speech.s16").size() / 2;
}

// The mouth's box in the frame of driver index t: crop coordinates x -0.55..0.55, y 0..0.75 (the
// lips, chin and jaw) through the paste transform M(t) of the test person (crop 64, canvas 160 x 120).
struct Box {
  int x0, x1, y0, y1;
};
Box mouthBox(int t) {
  const std::string m = readFile(kFixtures + "/test/M.f32");
  float M[6];
  std::memcpy(M, m.data() + size_t(t) * sizeof M, sizeof M);
  Box b{1 << 20, -1, 1 << 20, -1};
  for (double u : {-0.55, 0.55})
    for (double v : {0.0, 0.75}) {
      const double x = (u + 1) * 32 - 0.5, y = (v + 1) * 32 - 0.5;
      const int X = int(M[0] * x + M[1] * y + M[2]), Y = int(M[3] * x + M[4] * y + M[5]);
      b = {std::min(b.x0, std::max(0, X)), std::max(b.x1, std::min(160, X + 1)), std::min(b.y0, std::max(0, Y)),
           std::max(b.y1, std::min(120, Y + 1))};
    }
  return b;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  const size_t n = std::min(a.size(), b.size());
  double ma = 0, mb = 0;
  for (size_t i = 0; i < n; ++i) ma += a[i] / double(n), mb += b[i] / double(n);
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < n; ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) * (a[i] - ma);
    bb += (b[i] - mb) * (b[i] - mb);
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

}  // namespace

class LeSpeakEndToEnd : public testing::TestWithParam<Engine> {};

TEST_P(LeSpeakEndToEnd, WritesH264AndAacWithLeadInSpeechRampAndTail) {
  TempDir dir;
  const std::string text = "Hello there.";
  const SpeakRun r = speak(GetParam(), dir, text);
  ASSERT_EQ(r.tool.status, 0) << r.err;
  EXPECT_EQ(capture("ffprobe -v error -show_entries stream=codec_name,codec_type -of csv=p=0 " + (dir / "talk.mp4")),
            "h264,video\naac,audio\n");
  const int speech = countKind(r.frames, 1);
  // Every 40 ms of pushed audio is one speech frame (the last one partly filled).
  const size_t samples = speechSamples(text, dir);
  EXPECT_EQ(speech, int((samples + kSamplesPerFrame - 1) / kSamplesPerFrame));
  // Idle lead-in (12 pulls; an idle frame or two more may be in the ring when the first push lands),
  // every speech frame in order, the ramp, then the idle tail.
  const int total = int(r.frames.size());
  const int leadIn = total - speech - kRamp - kTail;
  EXPECT_GE(leadIn, kLeadIn);
  EXPECT_LE(leadIn, kLeadIn + 3);
  ASSERT_GE(leadIn, 0);
  EXPECT_EQ(capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                    "-of csv=p=0 " + (dir / "talk.mp4")),
            std::to_string(total) + "\n");
  for (int i = 0; i < total; ++i) {
    const int kind = i < leadIn ? 0 : i < leadIn + speech ? 1 : i < leadIn + speech + kRamp ? 2 : 0;
    EXPECT_EQ(r.frames[size_t(i)].kind, kind) << "frame " << i;
    if (kind == 1) EXPECT_EQ(r.frames[size_t(i)].frameNo, i - leadIn);
  }
  EXPECT_NE(r.tool.out.find("le-speak: " + std::to_string(total) + " frames -> " + (dir / "talk.mp4") +
                            " (160x120, 25 fps, libx264 + aac, "),
            std::string::npos)
      << r.tool.out;
  EXPECT_NE(r.tool.out.find("  frames       idle " + std::to_string(leadIn + kTail) + ", speech " +
                            std::to_string(speech) + ", ramp 6\n"),
            std::string::npos)
      << r.tool.out;
  EXPECT_NE(r.tool.out.find("  status       ok\n"), std::string::npos) << r.tool.out;
}

// The sound of the MP4 starts with speech frame 0 and stops at the first frame after the
// interrupt, which starts the interrupt's ramp.
TEST_P(LeSpeakEndToEnd, InterruptCutsTheSoundAtTheRamp) {
  TempDir dir;
  const SpeakRun r = speak(GetParam(), dir, "The quick brown fox jumps over the lazy dog.", "--interrupt-at 0.8");
  ASSERT_EQ(r.tool.status, 0) << r.err;
  EXPECT_NE(r.tool.out.find(", ramp 4 (interrupted)\n"), std::string::npos) << r.tool.out;
  const int first = firstOfKind(r.frames, 1), cut = firstOfKind(r.frames, 2);
  ASSERT_GE(first, kLeadIn);
  EXPECT_EQ(cut - first, 20);  // 0.8 s of speech frames pulled, then the interrupt's ramp
  EXPECT_EQ(countKind(r.frames, 1), 20);
  EXPECT_EQ(countKind(r.frames, 2), kInterruptRamp);
  const std::vector<int16_t> sound = soundOf(dir / "talk.mp4");
  const size_t at = size_t(first) * kSamplesPerFrame, stop = size_t(cut) * kSamplesPerFrame;
  EXPECT_LT(rms(sound, 0, at - 400), 30.0);
  EXPECT_GT(rms(sound, at, stop - at), 300.0);
  EXPECT_LT(rms(sound, stop + 400, sound.size()), 30.0);
}

// The mouth's motion (how far each speech frame is from the idle frame of the same driver index)
// follows the loudness of the sound that plays with it: the correlation peaks within one frame.
TEST_P(LeSpeakEndToEnd, MouthMovesInStepWithTheSound) {
  TempDir dir;
  const SpeakRun r = speak(GetParam(), dir, "One. Two. Three. Hello, how are you today?");
  ASSERT_EQ(r.tool.status, 0) << r.err;
  const std::string pictures = picturesOf(dir / "talk.mp4");
  const size_t frameBytes = 160 * 120 * 3;
  ASSERT_EQ(pictures.size(), r.frames.size() * frameBytes);
  std::vector<long> idleOf(64, -1);  // the first idle frame of every driver index (the lead-in)
  for (const FrameLine& f : r.frames)
    if (f.kind == 0 && idleOf[size_t(f.idx)] < 0) idleOf[size_t(f.idx)] = f.frame;
  const std::vector<int16_t> sound = soundOf(dir / "talk.mp4");
  std::vector<double> mouth, loud;
  for (const FrameLine& f : r.frames) {
    ASSERT_GE(idleOf[size_t(f.idx)], 0) << "no idle frame of driver index " << f.idx;
    const uint8_t* a = reinterpret_cast<const uint8_t*>(pictures.data()) + size_t(f.frame) * frameBytes;
    const uint8_t* b = reinterpret_cast<const uint8_t*>(pictures.data()) + size_t(idleOf[size_t(f.idx)]) * frameBytes;
    const Box box = mouthBox(f.idx);
    double diff = 0;
    for (int y = box.y0; y < box.y1; ++y)
      for (int x = box.x0 * 3; x < box.x1 * 3; ++x) diff += std::abs(int(a[y * 480 + x]) - int(b[y * 480 + x]));
    mouth.push_back(diff / double((box.y1 - box.y0) * (box.x1 - box.x0) * 3));
    loud.push_back(rms(sound, size_t(f.frame) * kSamplesPerFrame, kSamplesPerFrame));
  }
  int bestLag = 0;
  double best = -2;
  for (int lag = -8; lag <= 8; ++lag) {
    std::vector<double> m, l;
    for (size_t v = 8; v + 8 < mouth.size(); ++v) m.push_back(mouth[size_t(long(v) + lag)]), l.push_back(loud[v]);
    const double c = correlation(m, l);
    if (c > best) best = c, bestLag = lag;
  }
  // A sound misplaced by the pipeline's latency or the engine's look-ahead would peak several frames
  // off; the motion generator keeps the mouth half open through short pauses, so the peak is broad.
  EXPECT_LE(std::abs(bestLag), 1) << "correlation " << best;
  EXPECT_GT(best, 0.25) << "lag " << bestLag;
}

INSTANTIATE_TEST_SUITE_P(Engines, LeSpeakEndToEnd, testing::Values(a2x(), motionGenerator()),
                         [](const testing::TestParamInfo<Engine>& info) { return std::string(info.param.name); });

TEST(LeSpeakRealTime, PullsOnTheClockAndCountsLatePulls) {
  TempDir dir;
  const Engine e = a2x();
  ToolRun r = runCommand(e.env + LE_TEST_BIN_DIR "/le-speak " + kFixtures + "/test --text 'Hi.' --out " +
                             (dir / "talk.mp4"),
                         dir / "err");
  ASSERT_EQ(r.status, 0) << readFile(dir / "err");
  EXPECT_NE(r.out.find("  late pulls   "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" before the first speech frame)\n"), std::string::npos) << r.out;
  // Pulled at 25 fps: the run takes about as long as its video.
  EXPECT_NE(r.out.find("x real time)\n"), std::string::npos) << r.out;
}

}  // namespace le::test
