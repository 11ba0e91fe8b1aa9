#include "tessera/bank_sidecar.h"

#include <stdexcept>

#include "tessera/json_access.h"

namespace le::tessera {

namespace {

using json::JVal;

std::runtime_error refusal(const std::string& name, const std::string& text) {
  return std::runtime_error(name + text);
}

// Array elements are not checked for kind: anything but a number reads as 0.
double numberOrZero(const JVal& v) { return v.kind == JVal::kNumber ? v.number : 0.0; }

void checkFormat(const JVal& sidecar, const std::string& name) {
  const std::string format = json::optionalString(sidecar, "format", "");
  if (format != kBankSidecarFormat)
    throw refusal(name, " declares format '" + format + "', not 'tessera_bank.v1' — this reader does not know that "
                        "generation and will not guess at its keys.");
}

// The sidecar's stamp, which a manifest that restates the geometry must match exactly.
GeometryStamp readStamp(const JVal& sidecar, const JVal& manifest, const std::string& name) {
  const JVal* geometry = sidecar.find("geometry");
  if (!geometry || !geometry->isObject()) throw refusal(name, " carries no `geometry` stamp");
  const GeometryStamp stamp = GeometryStamp::fromJson(*geometry, name + ".geometry");
  const JVal* block = manifest.find("tessera");
  const JVal* stated = block && block->isObject() ? block->find("geometry") : nullptr;
  if (stated && stated->isObject()) {
    const GeometryStamp manifestStamp = GeometryStamp::fromJson(*stated, "manifest.tessera.geometry");
    if (!(manifestStamp == stamp))
      throw std::runtime_error("teeth geometry DISAGREES between the manifest and the bank sidecar — manifest " +
                               manifestStamp.describe() + " vs " + name + " " + stamp.describe() +
                               "; refusing to place a window on a rectangle the two halves of the bundle do not "
                               "agree on.");
  }
  return stamp;
}

void setPatchSize(BankSidecar& out) {
  const int64_t w = out.stamp.bandW(), h = out.stamp.bandH();
  if (w <= 0 || h <= 0)
    throw std::runtime_error("teeth stamp yields a non-positive stored patch (" + std::to_string(w) + "x" +
                             std::to_string(h) + ")");
  out.band_w = json::truncatedInt32(static_cast<double>(w));
  out.band_h = json::truncatedInt32(static_cast<double>(h));
}

int32_t readDonorCount(const JVal& sidecar, const std::string& name) {
  const int32_t n = json::truncatedInt32(json::requiredNumber(sidecar, "n_donors", name));
  if (n <= 0) throw refusal(name, " says n_donors=" + std::to_string(n));
  if (n > kMaxDonors)
    throw refusal(name, " carries n_donors=" + std::to_string(n) + ", over the owner's cap of " +
                            std::to_string(kMaxDonors) +
                            " (ruling 2026-08-28). This reader REFUSES rather than capping: the selector is the "
                            "bank's BUILD-time cap selector, and a second one here would change which donors reach "
                            "the mouth while every count-based check stayed green. Rebuild the bank.");
  return n;
}

struct DonorArrays {
  const JVal* track_order;
  const JVal* cent;
  const JVal* aperture;
  const JVal* c_canon;
};

DonorArrays findDonorArrays(const JVal& sidecar, const std::string& name, int32_t n) {
  const DonorArrays a{sidecar.find("track_order"), sidecar.find("cent"), sidecar.find("aperture"),
                      sidecar.find("c_canon")};
  for (const JVal* v : {a.track_order, a.cent, a.aperture, a.c_canon})
    if (!v || !v->isArray()) throw refusal(name, " lacks one of track_order/cent/aperture/c_canon as an array");
  const size_t count = static_cast<size_t>(n);
  if (a.track_order->array.size() != count || a.cent->array.size() != count || a.aperture->array.size() != count)
    throw refusal(name, " says n_donors=" + std::to_string(n) + " but carries track_order=" +
                            std::to_string(a.track_order->array.size()) + ", cent=" +
                            std::to_string(a.cent->array.size()) + ", aperture=" +
                            std::to_string(a.aperture->array.size()) +
                            " — a count mismatch silently mis-orders the donors.");
  if (a.c_canon->array.size() != 2) throw refusal(name, " c_canon is not a pair");
  return a;
}

std::vector<int32_t> readTrackOrder(const JVal& array, const std::string& name, int32_t n) {
  std::vector<int32_t> order;
  std::vector<bool> seen(static_cast<size_t>(n), false);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t index = json::truncatedInt32(numberOrZero(array.array[static_cast<size_t>(i)]));
    if (index < 0 || index >= n)
      throw refusal(name, " track_order[" + std::to_string(i) + "]=" + std::to_string(index) + " is outside [0," +
                              std::to_string(n) + ")");
    if (seen[static_cast<size_t>(index)])
      throw refusal(name, " track_order is not a permutation (reference " + std::to_string(index) +
                              " appears twice) — the inverse permutation would leave a reference slot never written "
                              "and the pass would blend uninitialised memory into a real mouth.");
    seen[static_cast<size_t>(index)] = true;
    order.push_back(index);
  }
  return order;
}

std::vector<double> readCentres(const JVal& array, const std::string& name) {
  std::vector<double> cent;
  for (size_t i = 0; i < array.array.size(); ++i) {
    const JVal& pair = array.array[i];
    if (!pair.isArray() || pair.array.size() != 2)
      throw refusal(name, " cent[" + std::to_string(i) + "] is not an (x,y) pair");
    cent.push_back(numberOrZero(pair.array[0]));
    cent.push_back(numberOrZero(pair.array[1]));
  }
  return cent;
}

void readCodec(const JVal& sidecar, BankSidecar& out) {
  const JVal* codec = sidecar.find("codec");
  if (!codec || !codec->isObject()) return;
  out.codec = json::optionalString(*codec, "codec", "");
  out.pix_fmt = json::optionalString(*codec, "pix_fmt", "");
}

}  // namespace

BankSidecar readBankSidecar(const JVal& sidecar, const JVal& manifest, const std::string& name) {
  BankSidecar out;
  checkFormat(sidecar, name);
  out.stamp = readStamp(sidecar, manifest, name);
  setPatchSize(out);
  out.n_donors = readDonorCount(sidecar, name);
  const DonorArrays arrays = findDonorArrays(sidecar, name, out.n_donors);
  out.track_order = readTrackOrder(*arrays.track_order, name, out.n_donors);
  out.cent = readCentres(*arrays.cent, name);
  for (const JVal& a : arrays.aperture->array) out.aperture.push_back(numberOrZero(a));
  out.c_canon = {numberOrZero(arrays.c_canon->array[0]), numberOrZero(arrays.c_canon->array[1])};
  readCodec(sidecar, out);
  return out;
}

}  // namespace le::tessera
