// le-speak's input side through the built binary: what it does with bad input, and the audio it
// would push for files of every common kind (converted with --pcm-out).
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace le::test {

namespace {

const std::string kBundle = std::string(LE_TEST_FIXTURES) + "/test";

// A 16-bit PCM WAV of interleaved samples.
std::string wavBytes(const std::vector<int16_t>& samples, int rate, int channels) {
  auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  auto le16 = [](uint16_t v) { return std::string{char(v), char(v >> 8)}; };
  const uint32_t data = uint32_t(samples.size() * 2);
  std::string w = "RIFF" + le32(36 + data) + "WAVEfmt " + le32(16) + le16(1) + le16(uint16_t(channels)) +
                  le32(uint32_t(rate)) + le32(uint32_t(rate * channels * 2)) + le16(uint16_t(channels * 2)) +
                  le16(16) + "data" + le32(data);
  w.append(reinterpret_cast<const char*>(samples.data()), data);
  return w;
}

// seconds of a sine of hz at amplitude, the same in every channel, interleaved.
std::vector<float> sine(double hz, double seconds, int rate, int channels, double amplitude) {
  std::vector<float> out;
  for (int i = 0; i < int(seconds * rate); ++i)
    for (int c = 0; c < channels; ++c) out.push_back(float(amplitude * std::sin(2 * M_PI * hz * i / rate)));
  return out;
}

void writeWithSndfile(const std::string& path, int format, const std::vector<float>& samples, int rate,
                      int channels) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(sf_writef_float(f, samples.data(), sf_count_t(samples.size() / size_t(channels))),
            sf_count_t(samples.size() / size_t(channels)));
  sf_close(f);
}

struct Converted {
  std::vector<int16_t> samples;
  std::string err;
};

Converted convert(const std::string& audio, const TempDir& dir) {
  ToolRun r = runTool("le-speak --wav " + audio + " --pcm-out " + (dir / "out.s16"), dir / "err");
  Converted c;
  c.err = readFile(dir / "err");
  EXPECT_EQ(r.status, 0) << c.err;
  const std::string bytes = readFile(dir / "out.s16");
  c.samples.resize(bytes.size() / 2);
  std::memcpy(c.samples.data(), bytes.data(), c.samples.size() * 2);
  return c;
}

// Frequency of a pure tone from its zero crossings over the middle half of the samples (the
// resampler's filter and the codecs' edges stay out of it), and its peak there.
struct Tone {
  double hz = 0, peak = 0;
};
Tone toneOf(const std::vector<int16_t>& s, int rate) {
  const size_t from = s.size() / 4, to = 3 * s.size() / 4;
  int crossings = 0;
  Tone t;
  for (size_t i = from + 1; i < to; ++i) {
    if ((s[i - 1] < 0) != (s[i] < 0)) ++crossings;
    t.peak = std::max(t.peak, std::abs(double(s[i])) / 32768.0);
  }
  t.hz = crossings / 2.0 / (double(to - from) / rate);
  return t;
}

}  // namespace

// Each bad input gets exactly one line on standard error and exit status 1, and leaves no MP4.
struct BadInput {
  const char* name;
  std::function<std::string(const TempDir&)> args;  // arguments after the tool's name
  std::function<std::string(const TempDir&)> line;  // the whole of standard error
};

class LeSpeakRefuses : public testing::TestWithParam<BadInput> {};

TEST_P(LeSpeakRefuses, WithOneLineAndStatusOne) {
  TempDir dir;
  writeFile(dir / "words.txt", "These are words, not sound.\n");
  writeFile(dir / "empty.wav", "");
  writeFile(dir / "silent.wav", wavBytes({}, 44100, 2));
  std::filesystem::create_directory(dir / "nomotion");
  ToolRun r = runTool("le-speak " + GetParam().args(dir), dir / "err");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(readFile(dir / "err"), GetParam().line(dir) + "\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "talk.mp4"));
}

namespace {

std::string withWav(const std::string& wav, const TempDir& dir) {
  return kBundle + " --wav " + wav + " --out " + (dir / "talk.mp4");
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Inputs, LeSpeakRefuses,
    testing::Values(
        BadInput{"NoFile", [](const TempDir& d) { return withWav(d / "missing.wav", d); },
                 [](const TempDir& d) { return "le-speak: cannot open " + (d / "missing.wav") +
                                               ": No such file or directory"; }},
        BadInput{"Directory", [](const TempDir& d) { return withWav(d.path(), d); },
                 [](const TempDir& d) { return "le-speak: " + d.path() + " is a directory, not an audio file"; }},
        BadInput{"EmptyFile", [](const TempDir& d) { return withWav(d / "empty.wav", d); },
                 [](const TempDir& d) { return "le-speak: " + (d / "empty.wav") + " is empty"; }},
        BadInput{"NoSamples", [](const TempDir& d) { return withWav(d / "silent.wav", d); },
                 [](const TempDir& d) { return "le-speak: " + (d / "silent.wav") + " holds no audio"; }},
        BadInput{"NotAudio", [](const TempDir& d) { return withWav(d / "words.txt", d); },
                 [](const TempDir& d) {
                   return "le-speak: " + (d / "words.txt") +
                          " is not an audio file (neither libsndfile nor FFmpeg can read it)";
                 }},
        BadInput{"EmptyText",
                 [](const TempDir& d) { return kBundle + " --text ' ' --out " + (d / "talk.mp4"); },
                 [](const TempDir&) { return std::string("le-speak: --text is empty"); }},
        BadInput{"NoMotionDirectory",
                 [](const TempDir& d) {
                   return kBundle + " --motion " + (d / "none") + " --text hello --out " + (d / "talk.mp4");
                 },
                 [](const TempDir& d) { return "le-speak: no motion directory " + (d / "none"); }},
        BadInput{"MotionDirectoryWithoutMotionMembers",
                 [](const TempDir& d) {
                   return kBundle + " --motion " + (d / "nomotion") + " --text hello --out " + (d / "talk.mp4");
                 },
                 [](const TempDir& d) {
                   return "le-speak: the motion directory " + (d / "nomotion") +
                          " cannot drive speech: le_motion_create: cannot open " + (d / "nomotion") + "/meta.json";
                 }},
        BadInput{"NoBundle",
                 [](const TempDir& d) { return (d / "nobundle") + " --text hello --out " + (d / "talk.mp4"); },
                 [](const TempDir& d) {
                   return "le-speak: le_create: cannot open " + (d / "nobundle") + "/manifest.json";
                 }},
        BadInput{"UnknownOption", [](const TempDir& d) { return withWav(d / "x.wav", d) + " --loud"; },
                 [](const TempDir&) {
                   return std::string("le-speak: unknown option --loud (le-speak --help shows the usage)");
                 }},
        BadInput{"BothSources",
                 [](const TempDir& d) { return withWav(d / "x.wav", d) + " --text hi"; },
                 [](const TempDir&) {
                   return std::string(
                       "le-speak: give exactly one of --wav FILE and --text \"...\" (le-speak --help shows the usage)");
                 }},
        BadInput{"NegativeInterrupt",
                 [](const TempDir& d) { return withWav(d / "x.wav", d) + " --interrupt-at -1"; },
                 [](const TempDir&) {
                   return std::string(
                       "le-speak: --interrupt-at needs a number of seconds from 0 on (le-speak --help shows the usage)");
                 }}),
    [](const testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

// Whatever the file's rate, channel count, sample format or container, the tool pushes 16 kHz mono
// of the same length and the same tone.
struct AudioKind {
  const char* name;
  double hz;
  std::function<void(const std::string& path)> make;  // writes 1.5 s of the tone at path
  const char* extension;
};

class LeSpeakReadsAudio : public testing::TestWithParam<AudioKind> {};

TEST_P(LeSpeakReadsAudio, As16kHzMonoOfTheSameLengthAndTone) {
  TempDir dir;
  const AudioKind& kind = GetParam();
  const std::string path = dir / (std::string("tone.") + kind.extension);
  kind.make(path);
  const Converted c = convert(path, dir);
  EXPECT_NEAR(double(c.samples.size()), 1.5 * 16000, 0.01 * 1.5 * 16000);
  const Tone t = toneOf(c.samples, 16000);
  EXPECT_NEAR(t.hz, kind.hz, 0.01 * kind.hz);
  // Amplitude 0.5 in: a stereo pair may be averaged or summed at -3 dB, never clipped or lost.
  EXPECT_GT(t.peak, 0.3);
  EXPECT_LT(t.peak, 0.75);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LeSpeakReadsAudio,
    testing::Values(
        AudioKind{"Wav44kStereo", 440,
                  [](const std::string& p) {
                    std::vector<int16_t> pcm;
                    for (float v : sine(440, 1.5, 44100, 2, 0.5)) pcm.push_back(int16_t(std::lround(v * 32767)));
                    writeFile(p, wavBytes(pcm, 44100, 2));
                  },
                  "wav"},
        AudioKind{"Flac22kMono", 700,
                  [](const std::string& p) {
                    writeWithSndfile(p, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, sine(700, 1.5, 22050, 1, 0.5), 22050, 1);
                  },
                  "flac"},
        AudioKind{"OggVorbis32kStereo", 1000,
                  [](const std::string& p) {
                    writeWithSndfile(p, SF_FORMAT_OGG | SF_FORMAT_VORBIS, sine(1000, 1.5, 32000, 2, 0.5), 32000, 2);
                  },
                  "ogg"},
        AudioKind{"AacM4a48kStereo", 440,
                  [](const std::string& p) {
                    // 0.5 amplitude: ffmpeg's sine source is at 1/8; volume 4 brings it there.
                    ToolRun r = runCommand("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=1.5 "
                                           "-af volume=4 -ar 48000 -ac 2 -c:a aac " + p);
                    ASSERT_EQ(r.status, 0) << r.out;
                  },
                  "m4a"}),
    [](const testing::TestParamInfo<AudioKind>& info) { return std::string(info.param.name); });

TEST(LeSpeakReadsAudio, TextBecomesEspeakSpeechAt16kHz) {
  TempDir dir;
  ToolRun r = runTool("le-speak --text 'One. Two. Three.' --pcm-out " + (dir / "out.s16"), dir / "err");
  ASSERT_EQ(r.status, 0) << readFile(dir / "err");
  const std::string bytes = readFile(dir / "out.s16");
  // espeak-ng at 150 words a minute says the three words with their pauses in about 2.5 s.
  EXPECT_GT(bytes.size() / 2, size_t(1.5 * 16000));
  EXPECT_LT(bytes.size() / 2, size_t(4.0 * 16000));
  EXPECT_NE(r.out.find(" s at 16 kHz mono) -> " + (dir / "out.s16")), std::string::npos) << r.out;
}

}  // namespace le::test
