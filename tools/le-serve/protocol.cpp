#include "protocol.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <nlohmann/json.hpp>

namespace le_serve {
namespace {

using nlohmann::json;

size_t utf8Chars(const std::string& text) {
  size_t n = 0;
  for (const unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

Command speakCommand(const json& message, const Limits& limits) {
  const auto text = message.find("text");
  if (text == message.end() || !text->is_string())
    throw ProtocolError("le-serve: a speak message needs a \"text\" string");
  Command c{Command::Kind::Speak, text->get<std::string>()};
  if (c.text.find_first_not_of(" \t\r\n") == std::string::npos) throw ProtocolError("le-serve: the text is empty");
  const size_t chars = utf8Chars(c.text);
  if (chars > limits.maxTextChars)
    throw ProtocolError("le-serve: the text is " + std::to_string(chars) + " characters long; the limit is " +
                        std::to_string(limits.maxTextChars));
  return c;
}

template <class T>
void put(std::string& out, size_t at, T value) {
  std::memcpy(out.data() + at, &value, sizeof value);
}

std::string sanitisedName(const std::string& name) {
  std::string out;
  for (const char c : name.substr(0, 64))
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_') out += c;
  if (out.empty() || out[0] == '.') out.insert(0, "upload");
  return out;
}

}  // namespace

Command parseCommand(const std::string& message, const Limits& limits) {
  const json parsed = json::parse(message, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) throw ProtocolError("le-serve: a message is not a JSON object");
  const auto type = parsed.find("type");
  if (type == parsed.end() || !type->is_string()) throw ProtocolError("le-serve: a message has no \"type\"");
  const std::string kind = type->get<std::string>();
  if (kind == "speak") return speakCommand(parsed, limits);
  if (kind == "interrupt") return {Command::Kind::Interrupt, {}};
  if (kind == "mic-end") return {Command::Kind::MicEnd, {}};
  throw ProtocolError("le-serve: unknown message type \"" + kind.substr(0, 40) + "\"");
}

Upload parseUpload(const std::string& message) {
  if (message.size() < 3) throw ProtocolError("le-serve: an upload message is cut short");
  uint16_t nameBytes = 0;
  std::memcpy(&nameBytes, message.data() + 1, 2);
  if (message.size() < size_t(3) + nameBytes) throw ProtocolError("le-serve: an upload message is cut short");
  Upload upload;
  upload.name = sanitisedName(message.substr(3, nameBytes));
  upload.bytes = message.substr(size_t(3) + nameBytes);
  if (upload.bytes.empty()) throw ProtocolError("le-serve: the uploaded file is empty");
  return upload;
}

std::vector<int16_t> micSamples(const std::string& message) {
  if (message.size() % 2 != 1) throw ProtocolError("le-serve: microphone audio must be whole 16-bit samples");
  std::vector<int16_t> samples((message.size() - 1) / 2);
  std::memcpy(samples.data(), message.data() + 1, samples.size() * 2);
  return samples;
}

std::string helloMessage(const Hello& hello) {
  return json{{"type", "hello"},
              {"width", hello.width},
              {"height", hello.height},
              {"fps", kFps},
              {"teeth", hello.teeth},
              {"maxTextChars", hello.limits.maxTextChars},
              {"maxUploadBytes", hello.limits.maxUploadBytes}}
      .dump();
}

std::string busyMessage() {
  return json{{"type", "busy"}, {"message", "le-serve: another viewer is driving; try again when it leaves"}}.dump();
}

std::string errorMessage(const std::string& text) {
  return json{{"type", "error"}, {"message", text}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string utteranceMessage(uint32_t utterance, Source source, size_t samples) {
  static const char* const kNames[] = {"text", "file", "mic"};
  return json{{"type", "utterance"}, {"id", utterance}, {"source", kNames[int(source)]}, {"samples", samples}}.dump();
}

std::string statsMessage(const StageFigures& s, const LinkFigures& link) {
  json stats{{"type", "stats"},
             {"latencyMs", s.stats.lastLatencyMs},
             {"renderMs", s.stats.renderMsEma},
             {"latePulls", s.latePulls},
             {"framesPulled", s.stats.framesPulled},
             {"speechFrames", s.stats.speechFramesPulled},
             {"utterances", s.stats.utterancesStarted},
             {"state", s.stats.state},
             {"framesSent", link.framesSent},
             {"framesDropped", link.framesDropped},
             {"cpuMsPerFrame", link.cpuMsPerFrame},
             {"renderFailures", s.renderFailures},
             {"renderStatus", s.renderStatus}};
  if (s.teeth) stats["teeth"] = {{"borrowed", s.teethBorrowed}, {"refused", s.teethRefused}, {"weight", s.teethWeight}};
  return stats.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string frameMessage(const le_utt_frame_info& info, const std::string& jpeg) {
  std::string out(kFrameHeaderBytes, '\0');
  out[0] = char(kFrameTag);
  out[1] = char(info.kind);
  put(out, 4, info.idx);
  put(out, 8, info.frameNo);
  put(out, 12, info.seq);
  return out + jpeg;
}

std::vector<std::string> audioMessages(uint32_t utterance, Source source, const std::vector<int16_t>& audio) {
  constexpr size_t kSecond = 16000;
  std::vector<std::string> messages;
  for (size_t from = 0; from < audio.size(); from += kSecond) {
    const size_t count = std::min(kSecond, audio.size() - from);
    std::string m(kAudioHeaderBytes + count * 2, '\0');
    m[0] = char(kAudioTag);
    m[1] = char(source);
    put(m, 4, utterance);
    put(m, 8, uint32_t(from));
    std::memcpy(m.data() + kAudioHeaderBytes, audio.data() + from, count * 2);
    messages.push_back(std::move(m));
  }
  return messages;
}

}  // namespace le_serve
