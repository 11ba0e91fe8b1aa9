// The library's version at run time, the number its own headers were generated with.
#include "le/le.h"

extern "C" LE_API unsigned le_version(void) { return LE_VERSION_INT; }
