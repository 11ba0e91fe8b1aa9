// The process-wide telemetry store behind the le_tel_ exports.
#include "le/le_version.h"
#include "tel/store.h"

namespace le::tel {

Store& processStore() {
  // A function-local static: built once, thread-safely, by the first caller; destroyed at exit.
  static Store store(LE_VERSION_STRING);
  return store;
}

std::string snapshot_json() { return processStore().snapshotJson(); }

}  // namespace le::tel
