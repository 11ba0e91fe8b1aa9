// libFuzzer target over the manifest reader and its key scanner: any input, read as the text of a
// bundle's manifest.json, is either read into a manifest whose sizes the rest of the library can
// trust or refused with one of the reader's messages. A manifest refused for its missing
// paste-space stamp is read again with the legacy assumption allowed. The scanner's answers for the
// keys the library reads must point inside the text at a value. Anything else (a crash, an
// out-of-bounds read under the sanitizers, another exception, a broken invariant) is a finding.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "bundle/manifest.h"
#include "bundle/manifest_key.h"
#include "le/le.h"

namespace {

namespace key = le::manifest_key;

const std::string kRoot = "/fuzz";

bool isReaderRefusal(const std::string& text) {
  return text.rfind("manifest: ", 0) == 0 || text == "not an le-bundle-v0: " + kRoot ||
         text.rfind(kRoot + "/manifest.json declares no paste-space stamp ", 0) == 0;
}

void checkAccepted(const le::Manifest& m) {
  constexpr int32_t kSide = 16384;
  if (m.root != kRoot || m.agent.find('"') != std::string::npos) std::abort();
  if (m.NT < 1 || m.H < 1 || m.W < 1 || m.crop < 1 || m.H > kSide || m.W > kSide || m.crop > kSide) std::abort();
  if (m.msrcW < 1 || m.msrcH < 1 || !std::isfinite(m.amount) || !std::isfinite(m.sigma)) std::abort();
}

// The scanner over one key: every hit points at the first non-blank byte after a colon, and the
// chosen value is one of the scalar hits.
void checkKey(const std::string& text, const std::string& name) {
  size_t chosen = key::kNotFound;
  try {
    chosen = key::scalarValuePos(text, name);
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()).rfind("manifest: key \"" + name + "\" is AMBIGUOUS", 0) != 0) std::abort();
    return;
  }
  bool found = chosen == key::kNotFound;
  for (const key::KeyHit& hit : key::keyHits(text, name)) {
    if (hit.pos > text.size() || (hit.pos < text.size() && std::isspace(static_cast<unsigned char>(text[hit.pos]))))
      std::abort();
    found = found || (hit.scalar && hit.pos == chosen);
  }
  std::string value;
  if (!found || (key::optStr(text, name, value) && value.find('"') != std::string::npos)) std::abort();
}

void readManifest(const std::string& text) {
  try {
    checkAccepted(le::parseManifest(text, kRoot));
  } catch (const std::runtime_error& e) {
    const std::string message = e.what();
    if (!isReaderRefusal(message)) std::abort();
    if (message.find("declares no paste-space stamp") == std::string::npos) return;
    setenv("OMBRINE2_MSRC_MISSING_OK", "1", 1);
    try {
      checkAccepted(le::parseManifest(text, kRoot));
    } catch (const std::runtime_error& again) {
      if (!isReaderRefusal(again.what())) std::abort();
    }
    unsetenv("OMBRINE2_MSRC_MISSING_OK");
  }
}

void dropLine(const char*, void*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (le_log_set(dropLine, nullptr), unsetenv("OMBRINE2_MSRC_MISSING_OK"), true);
  (void)quiet;
  const std::string text(reinterpret_cast<const char*>(data), size);
  readManifest(text);
  for (const char* name : {"format", "NT", "W", "crop", "M_src_w", "P_hevc", "tessera"}) checkKey(text, name);
  return 0;
}
