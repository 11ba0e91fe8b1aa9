#include "speech_synth.h"

#include <espeak-ng/speak_lib.h>

#include <stdexcept>

#include "common/resampler.h"

namespace le_speak {
namespace {

// One espeak-ng engine in synchronous mode, terminated when it goes out of scope.
class Espeak {
 public:
  Espeak() {
    // DONT_EXIT: without it espeak-ng ends the process when its voice data are missing.
    rate_ = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate_ <= 0) throw std::runtime_error("le-speak: espeak-ng does not start (is espeak-ng-data installed?)");
  }
  ~Espeak() { espeak_Terminate(); }
  Espeak(const Espeak&) = delete;
  Espeak& operator=(const Espeak&) = delete;

  int rate() const { return rate_; }

 private:
  int rate_ = 0;
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

std::vector<int16_t> synthesiseSpeech(const std::string& text) {
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) throw std::runtime_error("le-speak: --text is empty");
  Espeak engine;
  if (espeak_SetVoiceByName("en-us") != EE_OK) throw std::runtime_error("le-speak: espeak-ng has no en-us voice");
  espeak_SetParameter(espeakRATE, 150, 0);
  espeak_SetParameter(espeakPITCH, 50, 0);
  espeak_SetSynthCallback(&collect);
  std::vector<int16_t> speech;
  if (espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, &speech) != EE_OK ||
      espeak_Synchronize() != EE_OK)
    throw std::runtime_error("le-speak: espeak-ng failed to speak the text");
  if (speech.empty()) throw std::runtime_error("le-speak: espeak-ng said nothing for the text");
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  le::tool::Resampler resampler("le-speak", engine.rate(), mono, AV_SAMPLE_FMT_S16);
  const uint8_t* planes[] = {reinterpret_cast<const uint8_t*>(speech.data())};
  resampler.convert(planes, int(speech.size()));
  return resampler.finish();
}

}  // namespace le_speak
