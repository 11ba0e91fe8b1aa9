// The offline teeth pass at the C boundary: a batch of rendered crops in, one teeth window per crop
// out, one frame behind and flushed at the end.
#include <cstring>
#include <exception>
#include <optional>
#include <span>
#include <string>

#include "core/error_buffer.h"
#include "le/le_tessera.h"
#include "tessera/bank_arrays.h"
#include "tessera/head_weights.h"
#include "tessera/serve_config.h"
#include "tessera/stamp_array.h"
#include "tessera/teeth_pass.h"

namespace {

using le::tessera::BankArrays;
using le::tessera::BankData;
using le::tessera::FrameResult;
using le::tessera::GeometryStamp;
using le::tessera::TeethPass;

struct HeadMembers {
  const uint8_t* pt;
  int32_t ptLen;
  const char* json;
};

struct Batch {
  const uint8_t* canvases;
  const uint8_t* pis;
  const int32_t* shifts;
  int32_t frames;
  uint8_t* out;
  int32_t* refused;
};

BankData copyBank(const BankArrays& in, const GeometryStamp& stamp) {
  if (in.nDonors < 1) throw std::runtime_error("teeth: n_donors <= 0");
  return le::tessera::bankFromArrays(in, stamp);
}

TeethPass buildPass(const BankArrays& bankIn, const HeadMembers& head) {
  const GeometryStamp stamp = le::tessera::stampFromArray(bankIn.stamp);
  stamp.validate();
  const BankData bank = copyBank(bankIn, stamp);
  const auto config = le::tessera::ServeConfig::fromHeadMemberJson(head.json);
  const auto weights = le::tessera::loadHeadPt(std::span<const uint8_t>(head.pt, size_t(head.ptLen)));
  return TeethPass(bank, weights, config);
}

std::optional<le::tessera::Shift> shiftOf(const Batch& batch, int32_t frame) {
  if (!batch.shifts || batch.shifts[2 * frame] == LE_TESSERA_NO_SHIFT) return std::nullopt;
  return le::tessera::Shift{batch.shifts[2 * frame], batch.shifts[2 * frame + 1]};
}

// Puts an emitted frame into output slot `slot`; a refused frame leaves its window untouched.
void store(const FrameResult& result, const Batch& batch, size_t windowBytes, int32_t slot) {
  batch.refused[slot] = result.refused ? 1 : 0;
  if (result.refused) return;
  if (result.pixels.size() != windowBytes)
    throw std::runtime_error("teeth: an emitted window is " + std::to_string(result.pixels.size()) +
                             " bytes, the stamp window " + std::to_string(windowBytes));
  std::memcpy(batch.out + size_t(slot) * windowBytes, result.pixels.data(), windowBytes);
}

int32_t runBatch(TeethPass& pass, const Batch& batch) {
  const GeometryStamp& s = pass.stamp();
  const size_t canvasPixels = size_t(s.canvas_w) * size_t(s.canvas_h);
  const size_t windowBytes = size_t(s.window_w) * size_t(s.window_h) * 3;
  FrameResult result;
  int32_t emitted = 0;
  for (int32_t l = 0; l < batch.frames; ++l) {
    const uint8_t* canvas = batch.canvases + size_t(l) * canvasPixels * 3;
    const uint8_t* pi = batch.pis + size_t(l) * canvasPixels;
    if (!pass.push(l, canvas, pi, shiftOf(batch, l), result)) continue;
    store(result, batch, windowBytes, emitted++);
  }
  if (pass.flush(result)) store(result, batch, windowBytes, emitted++);
  return emitted;
}

bool anyNull(const BankArrays& bank, const HeadMembers& head, const Batch& batch) {
  return !bank.donors || !bank.cent || !bank.cCanon || !bank.aperture || !bank.stamp || !head.pt ||
         !head.json || (batch.frames > 0 && (!batch.canvases || !batch.pis || !batch.out || !batch.refused));
}

int32_t runOffline(const BankArrays& bank, const HeadMembers& head, const Batch& batch, char* err,
                   int32_t errLen) {
  try {
    if (anyNull(bank, head, batch)) throw std::runtime_error("teeth: a required argument is null");
    if (batch.frames < 0 || head.ptLen < 0) throw std::runtime_error("teeth: negative frame or byte count");
    TeethPass pass = buildPass(bank, head);
    const int32_t emitted = runBatch(pass, batch);
    if (emitted == batch.frames) return 0;
    le::copyToErrorBuffer("teeth: emitted " + std::to_string(emitted) + " of " + std::to_string(batch.frames) +
                              " frames",
                          err, errLen);
  } catch (const std::exception& e) {
    le::copyToErrorBuffer(e.what(), err, errLen);
  } catch (...) {
    le::copyToErrorBuffer("teeth: unknown failure", err, errLen);
  }
  return 1;
}

}  // namespace

extern "C" {

LE_API int32_t le_tessera_run_shift(const uint8_t* donors, int32_t n_donors, const double* cent,
                                    const double* c_canon, const double* aperture, const int32_t* stamp,
                                    const uint8_t* head_pt, int32_t head_pt_len, const char* head_json,
                                    const uint8_t* canvases, const uint8_t* pis, const int32_t* shifts,
                                    int32_t frames, uint8_t* out, int32_t* refused, char* err,
                                    int32_t err_len) {
  return runOffline({donors, n_donors, cent, c_canon, aperture, stamp}, {head_pt, head_pt_len, head_json},
                    {canvases, pis, shifts, frames, out, refused}, err, err_len);
}

LE_API int32_t le_tessera_run(const uint8_t* donors, int32_t n_donors, const double* cent, const double* c_canon,
                              const double* aperture, const int32_t* stamp, const uint8_t* head_pt,
                              int32_t head_pt_len, const char* head_json, const uint8_t* canvases,
                              const uint8_t* pis, int32_t frames, uint8_t* out, int32_t* refused, char* err,
                              int32_t err_len) {
  return le_tessera_run_shift(donors, n_donors, cent, c_canon, aperture, stamp, head_pt, head_pt_len, head_json,
                              canvases, pis, nullptr, frames, out, refused, err, err_len);
}

}  // extern "C"
