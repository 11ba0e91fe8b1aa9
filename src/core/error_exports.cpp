// The core family's error convention at the C boundary.
#include "core/last_error.h"
#include "le/le.h"

extern "C" {

LE_API const char* le_last_error(void) { return le::lastErrorText<le::CoreFamily>().c_str(); }

LE_API int le_host_kp_rows(void) { return le::kHostKpRows; }

}  // extern "C"
