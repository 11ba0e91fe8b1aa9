// The teeth slots and the carriage handle at the C boundary.
#include <new>
#include <string>

#include "le/le_tessera.h"
#include "tessera/teeth_members.h"

struct le_tessera_carriage {
  le::TesseraCarriage carriage;
  std::string lastPath;  // the text le_tessera_carriage_path returned last
};

namespace {

// The carriage of a bundle whose carriage could not be worked out: default names, empty paths.
le::TesseraCarriage defaultCarriage() {
  le::TesseraCarriage carriage;
  carriage.names = le::TesseraSlots().names;
  return carriage;
}

le::TesseraCarriage carriageOrDefault(const char* bundle) {
  try {
    return le::tesseraCarriage(bundle);
  } catch (...) {
    return defaultCarriage();
  }
}

}  // namespace

extern "C" {

LE_API int32_t le_tessera_slot_count(void) { return le::tesseraSlotCount(); }

LE_API const char* le_tessera_slot_key(int32_t i) {
  if (i < 0 || i >= le::kTesseraSlotCount) return nullptr;
  return le::tesseraSlotKeys()[size_t(i)];
}

LE_API le_tessera_carriage* le_tessera_carriage_open(const char* bundle) {
  if (!bundle) return nullptr;
  try {
    return new le_tessera_carriage{carriageOrDefault(bundle), {}};
  } catch (...) {
    return nullptr;
  }
}

LE_API void le_tessera_carriage_close(le_tessera_carriage* h) { delete h; }

LE_API int32_t le_tessera_carriage_complete(const le_tessera_carriage* h) { return h && h->carriage.complete; }

LE_API int32_t le_tessera_carriage_declared(const le_tessera_carriage* h) { return h && h->carriage.declared; }

LE_API const char* le_tessera_carriage_path(le_tessera_carriage* h, const char* key) {
  if (!h || !key) return "";
  try {
    h->lastPath = h->carriage.path(key);
  } catch (...) {
    h->lastPath.clear();
  }
  return h->lastPath.c_str();
}

LE_API int32_t le_tessera_carriage_missing_count(const le_tessera_carriage* h) {
  return h ? int32_t(h->carriage.missing.size()) : 0;
}

LE_API const char* le_tessera_carriage_missing(const le_tessera_carriage* h, int32_t i) {
  if (!h || i < 0 || size_t(i) >= h->carriage.missing.size()) return nullptr;
  return h->carriage.missing[size_t(i)].c_str();
}

}  // extern "C"
