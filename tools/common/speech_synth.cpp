#include "common/speech_synth.h"

#include <espeak-ng/speak_lib.h>

#include <mutex>
#include <stdexcept>

#include "common/resampler.h"

namespace le::tool {
namespace {

// espeak-ng's engine in synchronous mode. The engine is process-wide, and once terminated it does
// not start reliably again, so it is started on first use, kept until the process ends, and its
// callers take turns.
class Espeak {
 public:
  // A failed start throws and is tried again by the next call.
  static Espeak& instance(const std::string& tool) {
    static Espeak engine(tool);
    return engine;
  }
  Espeak(const Espeak&) = delete;
  Espeak& operator=(const Espeak&) = delete;

  int rate() const { return rate_; }
  std::mutex& turn() { return turn_; }

 private:
  explicit Espeak(const std::string& tool) {
    // DONT_EXIT: without it espeak-ng ends the process when its voice data are missing.
    rate_ = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate_ <= 0) throw std::runtime_error(tool + ": espeak-ng does not start (is espeak-ng-data installed?)");
  }

  int rate_ = 0;
  std::mutex turn_;
};

// espeak-ng hands the samples over in pieces through this callback; user_data is the vector.
int collect(short* wav, int count, espeak_EVENT* events) {
  if (wav && count > 0 && events) {
    auto* out = static_cast<std::vector<int16_t>*>(events->user_data);
    out->insert(out->end(), wav, wav + count);
  }
  return 0;
}

}  // namespace

std::vector<int16_t> synthesiseSpeech(const std::string& text, const std::string& tool) {
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) throw std::runtime_error(tool + ": the text is empty");
  Espeak& engine = Espeak::instance(tool);
  const std::lock_guard<std::mutex> hold(engine.turn());
  if (espeak_SetVoiceByName("en-us") != EE_OK) throw std::runtime_error(tool + ": espeak-ng has no en-us voice");
  espeak_SetParameter(espeakRATE, 150, 0);
  espeak_SetParameter(espeakPITCH, 50, 0);
  espeak_SetSynthCallback(&collect);
  std::vector<int16_t> speech;
  if (espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, &speech) != EE_OK ||
      espeak_Synchronize() != EE_OK)
    throw std::runtime_error(tool + ": espeak-ng failed to speak the text");
  if (speech.empty()) throw std::runtime_error(tool + ": espeak-ng said nothing for the text");
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  Resampler resampler(tool, engine.rate(), mono, AV_SAMPLE_FMT_S16);
  const uint8_t* planes[] = {reinterpret_cast<const uint8_t*>(speech.data())};
  resampler.convert(planes, int(speech.size()));
  return resampler.finish();
}

}  // namespace le::tool
