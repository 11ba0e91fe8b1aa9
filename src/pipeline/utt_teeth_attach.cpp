// Arming the teeth borrow on a running pipeline, and the pipeline's teeth exports.
#include <cstring>
#include <span>

#include "core/error_buffer.h"
#include "pipeline/utt.h"
#include "tessera/bank_arrays.h"
#include "tessera/head_weights.h"
#include "tessera/serve_config.h"
#include "tessera/stamp_array.h"

namespace {

using le::tessera::BankData;
using le::tessera::GeometryStamp;

struct AttachArgs {
  le::tessera::BankArrays bank;
  const uint8_t* headPt;
  int32_t headPtLen;
  const char* headJson;
  const char* manifestJson;
};

void copyText(const std::string& text, char* buf, int bufLen) {
  if (buf && bufLen > 0) le::copyToErrorBuffer(text, buf, bufLen);
}

// Steps 4 to 10 of an attach; throws with the reason.
void attach(le_utt& u, const AttachArgs& a) {
  const GeometryStamp stamp = le::tessera::stampFromArray(a.bank.stamp);
  stamp.validate();
  const int crop = u.cropSide();
  if (stamp.canvas_w != crop || stamp.canvas_h != crop)
    throw std::runtime_error("bank canvas " + std::to_string(stamp.canvas_w) + "x" + std::to_string(stamp.canvas_h) +
                             " != this bundle's render crop " + std::to_string(crop));
  if (a.headPtLen < 0) throw std::runtime_error("head_pt_len " + std::to_string(a.headPtLen) + " is negative");
  const BankData bank = le::tessera::bankFromArrays(a.bank, stamp);
  const auto config = le::tessera::ServeConfig::fromHeadMemberJson(a.headJson);
  const auto head = le::tessera::loadHeadPt(std::span<const uint8_t>(a.headPt, size_t(a.headPtLen)));
  const std::vector<float>& xs = u.xsTarget();
  if (xs.empty())
    throw std::runtime_error(
        "xs_target.bin is absent or the wrong length, so this bundle's corpus pi frame cannot be identified \xe2\x80\x94 "
        "refusing to arm the borrow against the manifest's compose-field geometry");
  const float canon[2] = {float(a.bank.cCanon[0]), float(a.bank.cCanon[1])};
  std::string geometry;
  const auto pi = le::tessera::UnifiedPi::corpusFromManifestJson(a.manifestJson, stamp.canvas_w, xs.data(),
                                                                 int(xs.size() / LE_HOST_KP_FLOATS), canon, &geometry);
  auto borrow = std::make_shared<le::tessera::StreamBorrow>(bank, head, config, pi, u.session().manifest.lipTemplateJson);
  u.attachBorrow(std::move(borrow), geometry);
}

}  // namespace

void le_utt::attachBorrow(std::shared_ptr<le::tessera::StreamBorrow> borrow, const std::string& geometry) {
  std::shared_ptr<le::tessera::StreamBorrow> previous;
  {
    std::lock_guard<std::mutex> lock(mu_);
    previous = std::move(teeth_.borrow);
    const int64_t generation = teeth_.lastGeneration;
    teeth_ = le::utt::TeethRecord{};
    teeth_.borrow = std::move(borrow);
    teeth_.geometry = geometry;
    teeth_.lastGeneration = generation;
    if (settings_.teethThread && !teethThread_.joinable()) teethThread_ = std::thread([this] { teethLoop(); });
  }
}

int le_utt::tesseraStats(int64_t* borrowed, int64_t* refused, char* buf, int bufLen) {
  std::lock_guard<std::mutex> lock(mu_);
  if (borrowed) *borrowed = teeth_.borrowed;
  if (refused) *refused = teeth_.refused;
  copyText(teeth_.lastMessage, buf, bufLen);
  if (!teeth_.borrow) return 0;
  return teeth_.fatal ? -1 : 1;
}

int le_utt::tesseraGeometry(char* buf, int bufLen) {
  std::lock_guard<std::mutex> lock(mu_);
  copyText(teeth_.borrow ? teeth_.geometry : std::string(), buf, bufLen);
  return teeth_.borrow ? 1 : 0;
}

int le_utt::tesseraSynthW(double* average, double* last, int64_t* count) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!teeth_.borrow || teeth_.synth.frames <= 0) return 0;
  if (average) *average = teeth_.synth.sumOfMeans / double(teeth_.synth.frames);
  if (last) *last = teeth_.lastSynth;
  if (count) *count = teeth_.synth.frames;
  return 1;
}

extern "C" {

LE_API int le_utt_tessera_attach(le_utt* u, const uint8_t* donors, int32_t n_donors, const double* cent,
                                 const double* c_canon, const double* aperture, const int32_t* stamp,
                                 const uint8_t* head_pt, int32_t head_pt_len, const char* head_json,
                                 const char* manifest_json, char* err, int32_t err_len) {
  if (!u) {
    le::copyToErrorBuffer("le_utt_tessera_attach: null session", err, err_len);
    return 1;
  }
  if (!donors || !cent || !c_canon || !aperture || !stamp || !head_pt || !head_json || !manifest_json) {
    le::copyToErrorBuffer(
        "le_utt_tessera_attach: a required member is null \xe2\x80\x94 this ABI has no partial-attach state", err,
        err_len);
    return 1;
  }
  if (n_donors < 1) {
    le::copyToErrorBuffer("le_utt_tessera_attach: n_donors <= 0", err, err_len);
    return 1;
  }
  try {
    attach(*u, {{donors, n_donors, cent, c_canon, aperture, stamp}, head_pt, head_pt_len, head_json, manifest_json});
    return 0;
  } catch (const std::exception& e) {
    le::copyToErrorBuffer(std::string("le_utt_tessera_attach: ") + e.what(), err, err_len);
  } catch (...) {
    le::copyToErrorBuffer("le_utt_tessera_attach: unknown failure", err, err_len);
  }
  return 1;
}

LE_API int le_utt_tessera_stats(le_utt* u, int64_t* borrowed, int64_t* refused, char* buf, int bufLen) {
  if (!u) {
    copyText("", buf, bufLen);
    return 0;
  }
  return u->tesseraStats(borrowed, refused, buf, bufLen);
}

LE_API int le_utt_tessera_geometry(le_utt* u, char* buf, int bufLen) {
  if (!u || !buf || bufLen < 1) return 0;
  return u->tesseraGeometry(buf, bufLen);
}

LE_API int le_utt_tessera_synth_w(le_utt* u, double* average, double* last, int64_t* count) {
  return u ? u->tesseraSynthW(average, last, count) : 0;
}

}  // extern "C"
