// le-speak: a host that speaks. Reads speech from an audio file (or synthesises it from text),
// pushes it into an utterance pipeline over a bundle in 20 ms chunks, pulls the finished frames
// on a 25 fps clock and writes them with the speech to an MP4, the sound placed so that it starts
// with the utterance's first speech frame. Only the library's C interface is used.
//
//   le-speak BUNDLE [--motion DIR] (--wav FILE | --text "...") --out talk.mp4 [--fast]
//            [--interrupt-at SECONDS] [--threads N] [--frames-out FILE] [--verbose]
//   le-speak (--wav FILE | --text "...") --pcm-out FILE.s16
//
// Any failure ends the run with one line on standard error and exit status 1, and removes the
// unfinished file.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

#include "common/audio_file.h"
#include "common/mp4_writer.h"
#include "common/pipeline_host.h"
#include "common/progress_bar.h"
#include "host_loop.h"
#include "le/le.h"
#include "le/le_utt.h"
#include "options.h"
#include "common/resampler.h"
#include "common/speech_synth.h"
#include "common/teeth_arm.h"
#include "summary.h"
#include "utterance_audio.h"

namespace le_speak {

using le::tool::kPipelineRate;

namespace {

constexpr int kFps = 25;
// The ramp back to idle after speech (the pipeline's default length).
constexpr int kRampFrames = 6;

std::vector<int16_t> speechOf(const Options& o) {
  if (!o.wav.empty()) return le::tool::readAudioFile(o.wav, "le-speak");
  if (o.text.find_first_not_of(" \t\r\n") == std::string::npos) throw std::runtime_error("le-speak: --text is empty");
  return le::tool::synthesiseSpeech(o.text, "le-speak");
}

int writePcm(const std::vector<int16_t>& audio, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(audio.data()), std::streamsize(audio.size() * sizeof(int16_t)));
  if (!out.flush()) throw std::runtime_error("le-speak: cannot write " + path);
  std::printf("le-speak: %zu samples (%.2f s at 16 kHz mono) -> %s\n", audio.size(),
              double(audio.size()) / kPipelineRate, path.c_str());
  return 0;
}

// H.264 (or, without one, MPEG-4 Part 2) with the speech beside it as AAC. veryfast: the encoder
// shares the machine with the pipeline it is recording in real time.
le::tool::Mp4Options mp4Options(const OutputInfo& info) {
  le::tool::Mp4Options mp4;
  mp4.tool = "le-speak";
  mp4.width = info.width;
  mp4.height = info.height;
  mp4.fps = info.fps;
  mp4.preset = "veryfast";
  mp4.crf = "20";
  mp4.mpeg4Fallback = true;
  mp4.audioRate = kPipelineRate;
  return mp4;
}

int speak(const Options& o, std::vector<int16_t> audio) {
  le::tool::forwardLibraryLog(o.verbose);
  const le::tool::Session session = le::tool::openSession(o.bundle, o.threads, "le-speak");
  le_ctx* ctx = session.get();
  const OutputInfo info{o.out, "", le_width(ctx), le_height(ctx), kFps, double(audio.size()) / kPipelineRate, o.fast};
  const le::tool::Pipeline utt = le::tool::openPipeline(ctx, o.motion, o.threads, "le-speak");
  if (o.teeth) {
    const le::tool::TeethArmed armed = le::tool::armTeeth(utt.get(), o.bundle, "le-speak");
    std::printf("le-speak: teeth borrow armed: %d donors, compose geometry %s\n", armed.donors, armed.geometry.c_str());
  }

  le::tool::Mp4Writer writer(o.out, mp4Options(info));
  HostOptions host;
  host.fast = o.fast;
  host.interruptAt = o.interruptAt;
  UtteranceAudio track(std::move(audio), kPipelineRate, kFps);
  le::tool::ProgressBar bar(int(host.leadInFrames + track.frames() + kRampFrames + host.tailFrames));
  std::ofstream frameLog;
  if (!o.framesOut.empty() && !(frameLog = std::ofstream(o.framesOut)))
    throw std::runtime_error("le-speak: cannot write " + o.framesOut);
  int64_t written = 0;
  auto sink = [&](const PulledFrame& f) {
    if (f.firstAfterInterrupt) track.stopAt(written);
    if (f.info.kind == 1 && f.info.frameNo == 0) track.startAt(written);
    writer.write(f.rgb, track.span(written), track.samplesPerFrame());
    if (frameLog.is_open()) frameLog << written << ' ' << f.info.kind << ' ' << f.info.idx << ' ' << f.info.frameNo << '\n';
    bar.update(int(++written));
  };
  HostReport report;
  try {
    report = runHost(utt.get(), track.samples(), size_t(info.width) * size_t(info.height) * 3, host, sink);
    writer.finish();
  } catch (const std::exception& e) {
    bar.finish();
    throw std::runtime_error(e.what() + writer.abandon());
  }
  bar.finish();
  OutputInfo done = info;
  done.videoEncoder = writer.videoEncoder();
  printSummary(report, done);
  if (o.teeth) std::printf("le-speak: %s\n", le::tool::teethSummary(utt.get()).c_str());
  return 0;
}

}  // namespace
}  // namespace le_speak

int main(int argc, char** argv) {
  const le_speak::Options options = le_speak::parseOptions(argc, argv);
  try {
    std::vector<int16_t> audio = le_speak::speechOf(options);
    if (!options.pcmOut.empty()) return le_speak::writePcm(audio, options.pcmOut);
    return le_speak::speak(options, std::move(audio));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
