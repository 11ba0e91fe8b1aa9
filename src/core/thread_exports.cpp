// The process-wide thread budget at the C boundary.
#include "le/le.h"
#include "pool/pool.h"

extern "C" {

LE_API int le_threads(void) { return le::pool::threads(); }

LE_API int le_set_threads(int n) { return le::pool::setThreads(n); }

}  // extern "C"
