// The command line of le-speak.
#pragma once

#include <string>

namespace le_speak {

struct Options {
  std::string bundle, motion, wav, text, out;
  // Only convert the audio to 16 kHz mono and write it here as raw 16-bit little-endian samples.
  std::string pcmOut;
  // A line per written video frame: "frame kind idx frameNo" (kind 0 idle, 1 speech, 2 ramp).
  std::string framesOut;
  bool fast = false;
  bool teeth = false;  // arm the teeth borrow from the bundle's teeth members
  bool verbose = false;  // every diagnostic line of the library, not only its warnings
  double interruptAt = -1.0;  // negative: no interrupt
  int threads = 0;
};

// Parses argv; answers --help and --version itself (exit 0); a bad command line prints one line
// ("le-speak: " and what is wrong) on standard error and exits with status 1.
Options parseOptions(int argc, char** argv);

}  // namespace le_speak
