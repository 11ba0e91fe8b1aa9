/* Every public header must compile as C99 on its own and together. */
#include "le/le.h"

int le_c99_headers_compile(void) { return le_host_kp_rows() == LE_HOST_KP_ROWS; }
