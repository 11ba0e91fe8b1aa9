// All four teeth members read and validated into the attach record, and the reorder of a decoded
// bank track into donor order.
#include <cstring>
#include <string>

#include "bundle/bundle_path.h"
#include "bundle/manifest.h"
#include "tessera/bank_encoding.h"
#include "tessera/bank_sidecar.h"
#include "tessera/json_access.h"
#include "tessera/manifest_tessera.h"
#include "tessera/teeth_files.h"
#include "tessera/teeth_members.h"

namespace le {

namespace {

void fillFromSidecar(TesseraAttachInputs& in, const tessera::BankSidecar& sidecar) {
  in.stamp = sidecar.stamp;
  in.band_w = sidecar.band_w;
  in.band_h = sidecar.band_h;
  in.n_donors = sidecar.n_donors;
  in.track_order = sidecar.track_order;
  in.cent = sidecar.cent;
  in.aperture = sidecar.aperture;
  in.c_canon = sidecar.c_canon;
}

}  // namespace

TesseraAttachInputs loadTesseraMembers(const std::string& bundle) {
  const std::string root = resolveBundlePath(bundle);
  const TesseraCarriage carriage = tesseraCarriage(root);
  requireTesseraMembers(carriage);
  const std::string manifestPath = tessera::findTeethManifest(root);
  if (manifestPath.empty())
    throw std::runtime_error(root +
                             " carries no manifest.json or meta.json \xe2\x80\x94 the compose descriptor (unified.pi) "
                             "the pass places its window by lives there, and placing a borrow window without it is "
                             "guessing.");
  TesseraAttachInputs in;
  in.manifest_json = tessera::readTeethFile(manifestPath, "a manifest");
  in.head_json = tessera::readTeethFile(carriage.path("head_config"), "a head config");
  in.head_pt = tessera::readTeethBytes(carriage.path("head_weights"), tessera::kMaxHeadWeightsBytes, "head weights");
  in.bank_track_path = carriage.path("bank_track");
  const std::string sidecarText = tessera::readTeethFile(carriage.path("bank_sidecar"), "a bank sidecar");

  const std::string& sidecarName = carriage.names[1];
  const tessera::json::JVal sidecar = tessera::json::parseNamed(sidecarText, sidecarName);
  const tessera::json::JVal manifest = tessera::json::parseNamed(in.manifest_json, manifestPath);
  const tessera::BankSidecar bank = tessera::readBankSidecar(sidecar, manifest, sidecarName);
  // A stamp whose window or band leaves the canvas would place every borrowed patch outside the
  // frame it is cut for: refuse it here, before anything decodes against it.
  bank.stamp.validate();
  fillFromSidecar(in, bank);
  const tessera::BankEncoding encoding =
      tessera::bankEncoding(tessera::readManifestTessera(manifest), bank, root, sidecarName);
  in.bank_container = encoding.container;
  in.bank_codec = encoding.codec;
  in.bank_pix_fmt = encoding.pix_fmt;
  in.bank_packing = encoding.packing;
  return in;
}

TesseraAttachInputs loadTesseraMembers(const Manifest& manifest) { return loadTesseraMembers(manifest.root); }

void reorderTrackToDonor(const TesseraAttachInputs& inputs, const uint8_t* track, uint8_t* out) {
  if (!track || !out) throw std::runtime_error("teeth: null band buffer");
  if (int64_t(inputs.track_order.size()) != inputs.n_donors)
    throw std::runtime_error("teeth: track_order does not match n_donors");
  const size_t patch = size_t(inputs.band_w > 0 ? inputs.band_w : 0) * size_t(inputs.band_h > 0 ? inputs.band_h : 0) * 3;
  if (patch == 0) throw std::runtime_error("teeth: zero reference stride");
  // A host may hand a record it filled itself: an order entry outside the donors would write past
  // the buffer.
  for (int32_t donor : inputs.track_order)
    if (donor < 0 || donor >= inputs.n_donors) throw std::runtime_error("teeth: track_order entry out of range");
  for (size_t i = 0; i < inputs.track_order.size(); ++i)
    std::memcpy(out + size_t(inputs.track_order[i]) * patch, track + i * patch, patch);
}

}  // namespace le
