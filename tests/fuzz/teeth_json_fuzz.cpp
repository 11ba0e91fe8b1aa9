// libFuzzer target over the teeth JSON reader and the documents read with it (bank sidecar,
// manifest tessera block, head config, geometry stamp): any input is read or refused with a
// std::runtime_error; anything else (a crash, a hang, an out-of-bounds read under the sanitizers,
// another exception, a broken invariant of what was accepted) is a finding.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tessera/bank_encoding.h"
#include "tessera/json_access.h"
#include "tessera/json_reader.h"
#include "tessera/serve_config.h"

namespace {

using le::tessera::json::JVal;

bool isReaderRefusal(const std::string& text) {
  static const std::set<std::string> messages = {"teeth: malformed JSON object", "teeth: malformed JSON array",
                                                 "teeth: bad JSON number", "teeth: JSON truncated"};
  return messages.count(text) > 0;
}

// What the sidecar reader accepts is a complete, permuted bank within the cap.
void checkAccepted(const le::tessera::BankSidecar& s) {
  const size_t n = static_cast<size_t>(s.n_donors);
  if (s.n_donors < 1 || s.n_donors > le::tessera::kMaxDonors || s.band_w < 1 || s.band_h < 1) std::abort();
  if (s.track_order.size() != n || s.cent.size() != 2 * n || s.aperture.size() != n) std::abort();
  std::set<int32_t> donors(s.track_order.begin(), s.track_order.end());
  if (donors.size() != n || *donors.begin() != 0 || *donors.rbegin() != s.n_donors - 1) std::abort();
}

void readDocuments(const JVal& doc, std::string_view text) {
  try {
    const le::tessera::BankSidecar sidecar = le::tessera::readBankSidecar(doc, doc, "fuzz.json");
    checkAccepted(sidecar);
    le::tessera::bankEncoding(le::tessera::readManifestTessera(doc), sidecar, "/fuzz", "fuzz.json");
    sidecar.stamp.validate();
  } catch (const std::runtime_error&) {
  }
  try {
    le::tessera::ServeConfig::fromHeadMemberJson(text);
  } catch (const std::runtime_error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const JVal doc = le::tessera::json::parse(text);
    readDocuments(doc, text);
  } catch (const std::runtime_error& e) {
    if (!isReaderRefusal(e.what())) std::abort();
  }
  return 0;
}
