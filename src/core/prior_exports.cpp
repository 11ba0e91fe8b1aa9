// Frame-by-frame reading of a bundle's warp prior at the C boundary, without a session.
#include <memory>
#include <string>

#include "bundle/manifest.h"
#include "bundle/prior_rows.h"
#include "core/last_error.h"
#include "le/le.h"

struct le_prior {
  le::Manifest manifest;
  std::unique_ptr<le::PriorRows> rows;
};

extern "C" {

LE_API le_prior* le_prior_open(const char* bundle_dir, int lookAhead, int history) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!bundle_dir) {
    le::lastErrorText<le::CoreFamily>() = "le_prior_open: NULL bundle_dir";
    return nullptr;
  }
  return le::guarded<le::CoreFamily>("le_prior_open", static_cast<le_prior*>(nullptr), [&] {
    auto prior = std::make_unique<le_prior>();
    prior->manifest = le::loadManifest(bundle_dir);
    prior->rows = std::make_unique<le::PriorRows>(prior->manifest, lookAhead < 1 ? 2 : lookAhead,
                                                  history < 0 ? 0 : history);
    return prior.release();
  });
}

LE_API int le_prior_row(le_prior* prior, int t, void* out, size_t cap) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!prior || !out) {
    le::lastErrorText<le::CoreFamily>() = "le_prior_row: NULL prior/out";
    return 0;
  }
  const size_t rowBytes = prior->rows->rowBytes();
  if (cap < rowBytes) {
    le::lastErrorText<le::CoreFamily>() =
        "le_prior_row: cap " + std::to_string(cap) + " < row bytes " + std::to_string(rowBytes);
    return 0;
  }
  return le::guarded<le::CoreFamily>("le_prior_row", 0, [&] {
    prior->rows->row(t, static_cast<uint8_t*>(out));
    return 1;
  });
}

LE_API size_t le_prior_row_bytes(const le_prior* prior) { return prior ? prior->rows->rowBytes() : 0; }

LE_API const char* le_prior_backend(const le_prior* prior) { return prior ? prior->rows->backend().c_str() : ""; }

LE_API void le_prior_close(le_prior* prior) { delete prior; }

}  // extern "C"
