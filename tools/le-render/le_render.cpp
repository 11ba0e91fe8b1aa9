// le-render: renders a bundle's idle loop, or keypoints from a file, through the library's C
// interface and encodes the finished frames to an H.264 MP4 at 25 fps.
//
//   le-render BUNDLE --out video.mp4 [--loop | --kp FILE] [--frames N] [--model KEY] [--threads N]
//   le-render --help | --version
//
// --loop (the default) plays the bundle's baked idle loop; --kp FILE reads 126 little-endian
// floats per frame (63 source keypoints, then 63 driving keypoints) and renders frame k from source
// and driver frame k modulo the bundle's frame count. --frames N renders N frames, wrapping around
// the loop or the file (default: one pass).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/tool_cli.h"
#include "le/le.h"
#include "mp4_writer.h"
#include "progress_bar.h"

namespace {

constexpr int kFps = 25;
constexpr int kKpFloats = LE_HOST_KP_ROWS * 3;

struct Options {
  std::string bundle, out, kpFile, model = "b1";
  int frames = 0, threads = 0;
};

const char kUsage[] =
    "usage: le-render BUNDLE --out video.mp4 [--loop | --kp FILE] [--frames N] [--model KEY] [--threads N]\n"
    "       le-render --help | --version\n"
    "  --loop       render the bundle's baked idle loop (the default)\n"
    "  --kp FILE    render frame k from 126 little-endian floats per frame (63 source, 63 driving keypoints)\n"
    "  --frames N   render N frames, wrapping around the loop or the file (default: one pass)\n"
    "  --model KEY  director model member model_KEY.onnx (default b1)\n"
    "  --threads N  the session's thread budget (default: the library's)\n";

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
  try {
    size_t used = 0;
    const int v = std::stoi(text, &used);
    if (used == text.size()) return v;
  } catch (const std::exception&) {
  }
  usage((std::string(flag) + " needs an integer, not '" + text + "'").c_str());
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
    else if (a == "-h" || a == "--help") answer(false);
    else if (a == "--version") answer(true);
    else if (!a.empty() && a[0] == '-') usage(("unknown option " + a).c_str());
    else if (o.bundle.empty()) o.bundle = a;
    else usage(("unexpected argument " + a).c_str());
  }
  if (o.bundle.empty() || o.out.empty()) usage("BUNDLE and --out are required");
  if (loop && !o.kpFile.empty()) usage("--loop and --kp exclude each other");
  if (o.frames < 0) usage("--frames must not be negative");
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

int run(const Options& o) {
  le_ctx* ctx = le_create(o.bundle.c_str(), o.model.c_str(), o.threads, nullptr);
  if (!ctx) throw std::runtime_error(le_last_error());
  std::unique_ptr<le_ctx, void (*)(le_ctx*)> session(ctx, &le_destroy);
  const int NT = le_nt(ctx);

  std::vector<float> kp;
  std::vector<int32_t> loopSi;
  int passFrames = 0;
  if (!o.kpFile.empty()) {
    kp = readArray<float>(o.kpFile, 2 * kKpFloats, "frames of 126 floats");
    passFrames = int(kp.size() / (2 * kKpFloats));
  } else {
    loopSi = loopSourceFrames(o.bundle);
    passFrames = le_drive_frames(ctx);
    if (int(loopSi.size()) != passFrames) throw std::runtime_error("le-render: drive/si.i32 disagrees with the session");
  }
  if (passFrames < 1) throw std::runtime_error("le-render: nothing to render");
  const int total = o.frames > 0 ? o.frames : passFrames;

  le_render::Mp4Writer writer(o.out, le_width(ctx), le_height(ctx), kFps);
  le_render::ProgressBar bar(total);
  double renderMs = 0.0, pasteMs = 0.0;
  for (int k = 0; k < total; ++k) {
    const int step = k % passFrames;
    const int t = kp.empty() ? loopSi[size_t(step)] : k % NT;
    auto start = Clock::now();
    const float* crop = kp.empty() ? le_render_drive_crop(ctx, step)
                                   : le_render_kp_crop(ctx, t, kp.data() + size_t(step) * 2 * kKpFloats,
                                                       kp.data() + size_t(step) * 2 * kKpFloats + kKpFloats);
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
  std::printf("le-render: %d frames -> %s (%dx%d, %d fps, %s): render %.2f ms/frame, paste %.2f ms/frame\n", total,
              o.out.c_str(), le_width(ctx), le_height(ctx), kFps, writer.encoderName(), renderMs / total,
              pasteMs / total);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  try {
    return run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
