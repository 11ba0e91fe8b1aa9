// The teeth members handle at the C boundary: the four members loaded once, their arrays and texts
// handed out by pointer, and the bank track put in donor order.
#include <exception>
#include <new>
#include <string>

#include "core/error_buffer.h"
#include "le/le_tessera.h"
#include "tessera/stamp_array.h"
#include "tessera/teeth_members.h"

struct le_tessera_members {
  le::TesseraAttachInputs inputs;
  le::tessera::StampArray stamp;
};

namespace {

template <class T>
const T* firstOrNull(const std::vector<T>& values) {
  return values.empty() ? nullptr : values.data();
}

const char* textOf(const le_tessera_members* h, std::string le::TesseraAttachInputs::*field) {
  return h ? (h->inputs.*field).c_str() : "";
}

le_tessera_members* openMembers(const char* bundleDir, char* err, int32_t errLen) {
  try {
    le::TesseraAttachInputs inputs = le::loadTesseraMembers(bundleDir);
    const le::tessera::StampArray stamp = le::tessera::stampToArray(inputs.stamp);
    return new le_tessera_members{std::move(inputs), stamp};
  } catch (const std::bad_alloc&) {
    le::copyToErrorBuffer("le_tessera_members_open: out of memory", err, errLen);
  } catch (const std::exception& e) {
    le::copyToErrorBuffer(e.what(), err, errLen);
  } catch (...) {
    le::copyToErrorBuffer("le_tessera_members_open: unknown failure", err, errLen);
  }
  return nullptr;
}

}  // namespace

extern "C" {

LE_API le_tessera_members* le_tessera_members_open(const char* bundle_dir, char* err, int32_t err_len) {
  if (!bundle_dir) {
    le::copyToErrorBuffer("le_tessera_members_open: null bundle_dir", err, err_len);
    return nullptr;
  }
  return openMembers(bundle_dir, err, err_len);
}

LE_API void le_tessera_members_close(le_tessera_members* h) { delete h; }

LE_API int32_t le_tessera_members_n_donors(const le_tessera_members* h) { return h ? h->inputs.n_donors : 0; }
LE_API int32_t le_tessera_members_band_w(const le_tessera_members* h) { return h ? h->inputs.band_w : 0; }
LE_API int32_t le_tessera_members_band_h(const le_tessera_members* h) { return h ? h->inputs.band_h : 0; }

LE_API int64_t le_tessera_members_band_bytes(const le_tessera_members* h) {
  return h ? int64_t(h->inputs.n_donors) * h->inputs.band_h * h->inputs.band_w * 3 : 0;
}

LE_API const double* le_tessera_members_cent(const le_tessera_members* h) {
  return h ? firstOrNull(h->inputs.cent) : nullptr;
}
LE_API const double* le_tessera_members_aperture(const le_tessera_members* h) {
  return h ? firstOrNull(h->inputs.aperture) : nullptr;
}
LE_API const uint8_t* le_tessera_members_head_pt(const le_tessera_members* h) {
  return h ? firstOrNull(h->inputs.head_pt) : nullptr;
}
LE_API int32_t le_tessera_members_head_pt_len(const le_tessera_members* h) {
  return h ? int32_t(h->inputs.head_pt.size()) : 0;
}
LE_API const double* le_tessera_members_c_canon(const le_tessera_members* h) {
  return h ? h->inputs.c_canon.data() : nullptr;
}
LE_API const int32_t* le_tessera_members_stamp(const le_tessera_members* h) {
  return h ? h->stamp.data() : nullptr;
}

LE_API const char* le_tessera_members_head_json(const le_tessera_members* h) {
  return textOf(h, &le::TesseraAttachInputs::head_json);
}
LE_API const char* le_tessera_members_manifest_json(const le_tessera_members* h) {
  return textOf(h, &le::TesseraAttachInputs::manifest_json);
}
LE_API const char* le_tessera_members_bank_track_path(const le_tessera_members* h) {
  return textOf(h, &le::TesseraAttachInputs::bank_track_path);
}
LE_API const char* le_tessera_members_bank_container(const le_tessera_members* h) {
  return textOf(h, &le::TesseraAttachInputs::bank_container);
}
LE_API const char* le_tessera_members_bank_codec(const le_tessera_members* h) {
  return textOf(h, &le::TesseraAttachInputs::bank_codec);
}
LE_API const char* le_tessera_members_bank_pix_fmt(const le_tessera_members* h) {
  return textOf(h, &le::TesseraAttachInputs::bank_pix_fmt);
}
LE_API const char* le_tessera_members_bank_packing(const le_tessera_members* h) {
  return textOf(h, &le::TesseraAttachInputs::bank_packing);
}

LE_API int32_t le_tessera_members_reorder(const le_tessera_members* h, const uint8_t* track, uint8_t* out,
                                          char* err, int32_t err_len) {
  if (!h || !track || !out) {
    le::copyToErrorBuffer("le_tessera_members_reorder: null argument", err, err_len);
    return 1;
  }
  try {
    le::reorderTrackToDonor(h->inputs, track, out);
    return 0;
  } catch (const std::exception& e) {
    le::copyToErrorBuffer(e.what(), err, err_len);
  } catch (...) {
    le::copyToErrorBuffer("le_tessera_members_reorder: unknown failure", err, err_len);
  }
  return 1;
}

}  // extern "C"
