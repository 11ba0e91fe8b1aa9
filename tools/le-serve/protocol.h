// The messages between le-serve and its page. Text messages are JSON objects with a "type";
// binary messages begin with a tag byte, and numbers in them are little-endian.
//
// From the page:
//   {"type":"speak","text":"..."}  say the text (espeak-ng's voice)
//   {"type":"interrupt"}           stop the utterance and return to idle
//   {"type":"mic-end"}             the microphone stopped: end its utterance
//   'M' + 16-bit samples           live microphone audio, 16 kHz mono
//   'U' + u16 name length + name + file bytes   a recording to say (any format the tools read)
// To the page:
//   hello, busy, error, utterance, stats (JSON, see the builders below)
//   'F' kind u8, 2 zero bytes, idx i32, frameNo i32, seq i64, then the frame as JPEG
//   'A' source u8, 2 zero bytes, utterance u32, first sample u32, then 16-bit samples at 16 kHz
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "le/le_utt.h"
#include "stage.h"

namespace le_serve {

constexpr int kFps = 25;
constexpr uint8_t kMicTag = 'M', kUploadTag = 'U', kFrameTag = 'F', kAudioTag = 'A';
constexpr size_t kFrameHeaderBytes = 20, kAudioHeaderBytes = 12;

// A message from the page that cannot be followed; what() is the line the page shows.
struct ProtocolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Limits {
  size_t maxTextChars = 1000;
  size_t maxUploadBytes = size_t(16) << 20;
  double maxRecordingSeconds = 120.0;
};

enum class Source : uint8_t { Text = 0, File = 1, Mic = 2 };

struct Command {
  enum class Kind { Speak, Interrupt, MicEnd } kind;
  std::string text;  // Speak: what to say
};

// Throws ProtocolError for anything but one of the commands above, or a text over the limit.
Command parseCommand(const std::string& message, const Limits& limits);

struct Upload {
  std::string name;  // as the page named it, reduced to letters, digits, '.', '-' and '_'
  std::string bytes;
};

// Throws ProtocolError when the message is shorter than its name says.
Upload parseUpload(const std::string& message);
// The samples of an 'M' message; throws ProtocolError on an odd byte count.
std::vector<int16_t> micSamples(const std::string& message);

struct Hello {
  int width = 0, height = 0;
  bool teeth = false;
  Limits limits;
};

// What the link to the page adds to the pipeline's figures.
struct LinkFigures {
  int64_t framesSent = 0, framesDropped = 0;
  double cpuMsPerFrame = 0.0;  // the server's CPU time per pulled frame, over the last second or so
};

std::string helloMessage(const Hello& hello);
std::string busyMessage();
std::string errorMessage(const std::string& text);
std::string utteranceMessage(uint32_t utterance, Source source, size_t samples);
std::string statsMessage(const StageFigures& stage, const LinkFigures& link);

// A binary 'F' message: the header, then the JPEG.
std::string frameMessage(const le_utt_frame_info& info, const std::string& jpeg);
// 'A' messages of at most one second each that carry audio whole.
std::vector<std::string> audioMessages(uint32_t utterance, Source source, const std::vector<int16_t>& audio);

}  // namespace le_serve
