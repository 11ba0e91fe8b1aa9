#include "tessera/serve_config.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "tessera/json_access.h"
#include "tessera/json_reader.h"

namespace le::tessera {

namespace {

using json::JVal;

// The decode envelope every head was trained against, in 8-bit levels.
constexpr double kEnvelopeOfRecord = 12.0;
constexpr double kEnvelopeTolerance = 1e-6;

// A present member's number (its kind is not checked: anything else reads as 0).
double presentNumber(const JVal& block, const char* key) {
  const JVal* v = block.find(key);
  if (!v) throw std::runtime_error(std::string("teeth: member JSON lacks key '") + key + "'");
  return v->kind == JVal::kNumber ? v->number : 0.0;
}

void checkEnvelope(const JVal& top) {
  const JVal* decode = top.find("decode");
  const JVal* envelope = decode && decode->isObject() ? decode->find("envelope_clamp_255") : nullptr;
  if (!envelope) return;
  const double value = envelope->kind == JVal::kNumber ? envelope->number : 0.0;
  if (!(std::fabs(value - kEnvelopeOfRecord) <= kEnvelopeTolerance))
    throw std::runtime_error(
        "teeth: member envelope_clamp_255 != the envelope of record (12/255) — the envelope is a gated quantity");
}

}  // namespace

ServeConfig ServeConfig::fromHeadMemberJson(std::string_view text) {
  const JVal top = json::parse(text);
  const JVal* retrieval = top.find("retrieval");
  const JVal* temporal = top.find("temporal");
  if (!retrieval || !retrieval->isObject() || !temporal || !temporal->isObject())
    throw std::runtime_error(
        "teeth: tessera_head.v1 config lacks the retrieval/temporal blocks of the v1 schema — refusing to serve "
        "defaults (W3-01)");
  ServeConfig config;
  config.kshort = json::truncatedInt32(presentNumber(*retrieval, "kshort"));
  config.aperture_tol = presentNumber(*retrieval, "aperture_tol");
  config.cut = json::truncatedInt32(presentNumber(*retrieval, "cut"));
  config.K = json::truncatedInt32(presentNumber(*retrieval, "K"));
  config.hysteresis = json::truncatedInt32(presentNumber(*temporal, "hysteresis"));
  config.lookahead = json::truncatedInt32(presentNumber(*temporal, "lookahead"));
  checkEnvelope(top);
  return config;
}

}  // namespace le::tessera
