#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "common/tool_cli.h"

namespace le_speak {

const char kUsage[] =
    "usage: le-speak BUNDLE [--motion DIR] (--wav FILE | --text \"...\") --out talk.mp4 [--fast]\n"
    "                [--interrupt-at SECONDS] [--threads N] [--frames-out FILE] [--verbose]\n"
    "       le-speak (--wav FILE | --text \"...\") --pcm-out FILE.s16\n"
    "       le-speak --help | --version\n"
    "  --motion DIR         motion directory of the speech engine (default: the bundle itself)\n"
    "  --wav FILE           speech from any audio file libsndfile or FFmpeg reads\n"
    "  --text \"...\"         speech synthesised by espeak-ng\n"
    "  --out FILE           the MP4 to write (H.264 video, AAC audio in step with the lips)\n"
    "  --fast               push and pull as fast as the pipeline goes instead of in real time\n"
    "  --teeth              borrow real teeth from the bundle's teeth bank into every speech frame\n"
    "  --interrupt-at S     interrupt the utterance S seconds after its first speech frame\n"
    "  --threads N          the session's and the speech engine's thread count\n"
    "  --frames-out FILE    write a line per video frame: frame kind idx frameNo (0 idle, 1 speech, 2 ramp)\n"
    "  --verbose            show every diagnostic line of the library (default: its warnings)\n"
    "  --pcm-out FILE       only write the speech as pushed: 16 kHz mono 16-bit raw samples\n";

namespace {

// A bad command line: one line on standard error, exit status 1.
[[noreturn]] void usage(const std::string& why) {
  std::fprintf(stderr, "le-speak: %s (le-speak --help shows the usage)\n", why.c_str());
  std::exit(1);
}

template <class T>
T number(std::optional<T> (*read)(const std::string&), const std::string& text, const char* flag) {
  if (const auto v = read(text)) return *v;
  usage(std::string(flag) + " needs a number, not '" + text + "'");
}

void requireCoherent(const Options& o) {
  if (o.wav.empty() == o.text.empty()) usage("give exactly one of --wav FILE and --text \"...\"");
  if (!o.pcmOut.empty()) {
    if (!o.out.empty() || !o.bundle.empty() || !o.framesOut.empty())
      usage("--pcm-out takes neither BUNDLE nor --out nor --frames-out");
    return;
  }
  if (o.bundle.empty()) usage("BUNDLE is required");
  if (o.out.empty()) usage("--out FILE is required");
  if (o.threads < 0) usage("--threads must not be negative");
}

}  // namespace

Options parseOptions(int argc, char** argv) {
  if (le::tool::answeredHelpOrVersion(argc, argv, "le-speak", kUsage)) std::exit(0);
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage(a + " needs a value");
      return argv[++i];
    };
    if (a == "--motion") o.motion = value();
    else if (a == "--wav") o.wav = value();
    else if (a == "--text") o.text = value();
    else if (a == "--out") o.out = value();
    else if (a == "--pcm-out") o.pcmOut = value();
    else if (a == "--frames-out") o.framesOut = value();
    else if (a == "--fast") o.fast = true;
    else if (a == "--teeth") o.teeth = true;
    else if (a == "--verbose") o.verbose = true;
    else if (a == "--interrupt-at") {
      o.interruptAt = number(le::tool::wholeDouble, value(), "--interrupt-at");
      if (!(o.interruptAt >= 0.0)) usage("--interrupt-at needs a number of seconds from 0 on");
    }
    else if (a == "--threads") o.threads = number(le::tool::wholeInt, value(), "--threads");
    else if (!a.empty() && a[0] == '-') usage("unknown option " + a);
    else if (o.bundle.empty()) o.bundle = a;
    else usage("unexpected argument " + a);
  }
  requireCoherent(o);
  if (o.motion.empty()) o.motion = o.bundle;
  return o;
}

}  // namespace le_speak
