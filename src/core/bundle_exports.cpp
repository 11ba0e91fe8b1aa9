// Bundle resolution at the C boundary.
#include <cstring>
#include <stdexcept>
#include <string>

#include "bundle/bundle_path.h"
#include "bundle/member_names.h"
#include "bundle/path_util.h"
#include "core/last_error.h"
#include "le/le.h"

namespace {

// Copies s with its terminator when it fits; otherwise out becomes empty.
bool copyOut(const std::string& s, char* out, size_t outLen) {
  if (outLen < s.size() + 1) {
    out[0] = 0;
    return false;
  }
  std::memcpy(out, s.c_str(), s.size() + 1);
  return true;
}

}  // namespace

extern "C" {

LE_API int le_bundle_resolve_handle(const char* handle, char* out, size_t outLen) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!out || outLen == 0 || !handle) return -1;
  return le::guarded<le::CoreFamily>("le_bundle_resolve_handle", -1, [&] {
    out[0] = 0;
    if (!copyOut(le::resolveBundlePath(handle), out, outLen))
      throw std::runtime_error("buffer too small");
    return 1;
  });
}

LE_API int le_bundle_resolve_member(const char* bundle, const char* name, char* out, size_t outLen) {
  le::lastErrorText<le::CoreFamily>().clear();
  if (!bundle || !name || !out || outLen == 0) return -1;
  // Unlike a missing member, a refused name or an unresolvable bundle has a reason the host needs:
  // it goes into the last-error text as with le_bundle_resolve_handle.
  return le::guarded<le::CoreFamily>("le_bundle_resolve_member", -1, [&] {
    out[0] = 0;
    std::string path = le::resolveMember(le::resolveBundlePath(bundle), name);
    if (!copyOut(path, out, outLen)) throw std::runtime_error("buffer too small");
    return le::opensForReading(path) ? 1 : 0;
  });
}

}  // extern "C"
