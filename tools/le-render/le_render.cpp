// le-render: renders a bundle's idle loop, keypoints from a file, or a recorded utterance through
// the library's C interface and encodes the finished frames to an H.264 MP4 at 25 fps.
//
//   le-render BUNDLE --out video.mp4 [--loop | --kp FILE] [--frames N] [--model KEY] [--threads N]
//   le-render BUNDLE --wav FILE --out talk.mp4 [--encoder FILE] [--skip N] [--gain G] [--threads N]
//   le-render --help | --version
//
// --loop (the default) plays the bundle's baked idle loop; --kp FILE reads 126 little-endian
// floats per frame (63 source keypoints, then 63 driving keypoints) and renders frame k from source
// and driver frame k modulo the bundle's frame count. --frames N renders N frames, wrapping around
// the loop or the file (default: one pass). --wav FILE renders the utterance through the offline
// stream renderer, with its audio (AAC) muxed in step. The video is BT.709 limited-range 4:2:0,
// tagged so.
// Any failure ends the run with exit status 1 and removes the unfinished file.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/mp4_writer.h"
#include "common/progress_bar.h"
#include "common/tool_cli.h"
#include "le/le.h"
#include "talk.h"

namespace {

constexpr int kFps = 25;
constexpr int kKpFloats = LE_HOST_KP_FLOATS;

struct Options {
  std::string bundle, out, kpFile, model = "b1";
  int frames = 0, threads = 0;
  le_render::TalkOptions talk;  // used when talk.wav is set
};

const char kUsage[] =
    "usage: le-render BUNDLE --out video.mp4 [--loop | --kp FILE] [--frames N] [--model KEY] [--threads N]\n"
    "       le-render --help | --version\n"
    "  --loop       render the bundle's baked idle loop (the default)\n"
    "  --kp FILE    render frame k from 126 little-endian floats per frame (63 source, 63 driving keypoints)\n"
    "  --frames N   render N frames, wrapping around the loop or the file (default: one pass)\n"
    "  --model KEY  director model member model_KEY.onnx (default b1)\n"
    "  --threads N  the session's thread budget (default: the library's)\n"
    "  --wav FILE   render a recorded utterance (any audio libsndfile or FFmpeg reads), audio muxed in\n"
    "  --encoder F  with --wav: the 8 s speech encoder (default $W2V_ONNX, else BUNDLE/speech/w2v_8s.onnx)\n"
    "  --skip N     with --wav: leading animation frames computed but not rendered (default 0)\n"
    "  --gain G     with --wav: factor on the animator's keypoint deltas (default 1)\n";

// A usage error: the reason and the usage on standard error, exit 2.
[[noreturn]] void usage(const char* why) {
  std::fprintf(stderr, "le-render: %s\n", why);
  std::fputs(kUsage, stderr);
  std::exit(2);
}

// An answer the user asked for: standard output, exit 0.
[[noreturn]] void answer(bool version) {
  if (version) le::tool::printVersion("le-render");
  else std::fputs(kUsage, stdout);
  std::exit(0);
}

int toInt(const std::string& text, const char* flag) {
  if (const auto v = le::tool::wholeInt(text)) return *v;
  usage((std::string(flag) + " needs an integer, not '" + text + "'").c_str());
}

float toFloat(const std::string& text, const char* flag) {
  if (const auto v = le::tool::wholeDouble(text); v && std::isfinite(float(*v))) return float(*v);
  usage((std::string(flag) + " needs a number, not '" + text + "'").c_str());
}

// The utterance options belong with --wav only, and --wav renders no loop or keypoint file.
void checkTalk(Options& o, bool framesChosen) {
  const le_render::TalkOptions defaults;
  if (o.talk.wav.empty()) {
    if (!o.talk.encoder.empty() || o.talk.skip != defaults.skip || o.talk.gain != defaults.gain)
      usage("--encoder, --skip and --gain go with --wav");
    return;
  }
  if (framesChosen) usage("--wav renders the utterance: --loop, --kp, --frames and --model do not apply");
  if (o.talk.skip < 0) usage("--skip must not be negative");
  o.talk.bundle = o.bundle;
  o.talk.out = o.out;
  o.talk.threads = o.threads;
}

Options parse(int argc, char** argv) {
  Options o;
  bool loop = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage((a + " needs a value").c_str());
      return argv[++i];
    };
    if (a == "--out") o.out = value();
    else if (a == "--loop") loop = true;
    else if (a == "--kp") o.kpFile = value();
    else if (a == "--frames") o.frames = toInt(value(), "--frames");
    else if (a == "--model") o.model = value();
    else if (a == "--threads") o.threads = toInt(value(), "--threads");
    else if (a == "--wav") o.talk.wav = value();
    else if (a == "--encoder") o.talk.encoder = value();
    else if (a == "--skip") o.talk.skip = toInt(value(), "--skip");
    else if (a == "--gain") o.talk.gain = toFloat(value(), "--gain");
    else if (a == "-h" || a == "--help") answer(false);
    else if (a == "--version") answer(true);
    else if (!a.empty() && a[0] == '-') usage(("unknown option " + a).c_str());
    else if (o.bundle.empty()) o.bundle = a;
    else usage(("unexpected argument " + a).c_str());
  }
  if (o.bundle.empty() || o.out.empty()) usage("BUNDLE and --out are required");
  if (loop && !o.kpFile.empty()) usage("--loop and --kp exclude each other");
  if (o.frames < 0) usage("--frames must not be negative");
  checkTalk(o, loop || !o.kpFile.empty() || o.frames != 0 || o.model != "b1");
  return o;
}

template <class T>
std::vector<T> readArray(const std::string& path, size_t multiple, const char* what) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("le-render: cannot open " + path);
  const size_t bytes = size_t(in.tellg());
  if (bytes == 0 || bytes % (multiple * sizeof(T)))
    throw std::runtime_error("le-render: " + path + " is " + std::to_string(bytes) + " bytes, not a whole number of " +
                             what);
  std::vector<T> values(bytes / sizeof(T));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(values.data()), std::streamsize(bytes));
  if (!in) throw std::runtime_error("le-render: short read on " + path);
  return values;
}

// The source frame of every idle-loop step, read from the bundle's own table (drive/si.i32).
std::vector<int32_t> loopSourceFrames(const std::string& bundle) {
  std::vector<char> path(4096);
  if (le_bundle_resolve_member(bundle.c_str(), "drive/si.i32", path.data(), path.size()) != 1)
    throw std::runtime_error("le-render: the bundle has no idle-loop table drive/si.i32");
  return readArray<int32_t>(path.data(), 1, "int32 values");
}

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// What to render: keypoint frames from a file, or the bundle's idle loop by its source frames.
struct Plan {
  std::vector<float> kp;        // 2 x 63 floats per frame, empty for the idle loop
  std::vector<int32_t> loopSi;  // source frame of every idle-loop step
  int passFrames = 0;           // frames in one pass of the file or the loop
  int total = 0;                // frames to render
};

Plan planFor(const Options& o, le_ctx* ctx) {
  Plan p;
  if (!o.kpFile.empty()) {
    p.kp = readArray<float>(o.kpFile, 2 * kKpFloats, "frames of 126 floats");
    p.passFrames = int(p.kp.size() / (2 * kKpFloats));
  } else {
    p.loopSi = loopSourceFrames(o.bundle);
    p.passFrames = le_drive_frames(ctx);
    if (int(p.loopSi.size()) != p.passFrames)
      throw std::runtime_error("le-render: drive/si.i32 disagrees with the session");
  }
  if (p.passFrames < 1) throw std::runtime_error("le-render: nothing to render");
  p.total = o.frames > 0 ? o.frames : p.passFrames;
  return p;
}

// Renders, pastes and encodes every frame of the plan, then finishes the file.
void encodeFrames(const Plan& p, le_ctx* ctx, le::tool::Mp4Writer& writer, le::tool::ProgressBar& bar) {
  const int NT = le_nt(ctx);
  double renderMs = 0.0, pasteMs = 0.0;
  for (int k = 0; k < p.total; ++k) {
    const int step = k % p.passFrames;
    const int t = p.kp.empty() ? p.loopSi[size_t(step)] : k % NT;
    auto start = Clock::now();
    const float* crop = p.kp.empty() ? le_render_drive_crop(ctx, step)
                                     : le_render_kp_crop(ctx, t, &p.kp[size_t(step) * 2 * kKpFloats],
                                                         &p.kp[size_t(step) * 2 * kKpFloats + kKpFloats]);
    if (!crop) throw std::runtime_error(le_last_error());
    renderMs += msSince(start);
    start = Clock::now();
    const uint8_t* frame = le_paste_last(ctx, t);
    if (!frame) throw std::runtime_error(le_last_error());
    pasteMs += msSince(start);
    writer.write(frame);
    bar.update(k + 1);
  }
  writer.finish();
  bar.finish();
  std::printf("le-render: %d frames -> %s (%dx%d, %d fps, %s): render %.2f ms/frame, paste %.2f ms/frame\n",
              p.total, writer.path().c_str(), le_width(ctx), le_height(ctx), kFps, writer.videoEncoder(),
              renderMs / p.total, pasteMs / p.total);
}

int run(const Options& o) {
  le_ctx* ctx = le_create(o.bundle.c_str(), o.model.c_str(), o.threads, nullptr);
  if (!ctx) throw std::runtime_error(le_last_error());
  std::unique_ptr<le_ctx, void (*)(le_ctx*)> session(ctx, &le_destroy);
  const Plan plan = planFor(o, ctx);

  le::tool::Mp4Options mp4;
  mp4.tool = "le-render";
  mp4.width = le_width(ctx);
  mp4.height = le_height(ctx);
  mp4.fps = kFps;
  le::tool::Mp4Writer writer(o.out, mp4);
  le::tool::ProgressBar bar(plan.total);
  try {
    encodeFrames(plan, ctx, writer, bar);
  } catch (const std::exception& e) {
    bar.finish();
    // A partial MP4 without its trailer is unplayable at best and a plausible short video at
    // worst; neither may be left behind looking like output.
    throw std::runtime_error(e.what() + writer.abandon());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  try {
    if (!options.talk.wav.empty()) {
      le_render::renderTalk(options.talk);
      return 0;
    }
    return run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
