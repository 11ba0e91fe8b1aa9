/* Every public header must compile as C99 on its own and together. */
#include "le/le.h"
#include "le/le_a2x.h"

int le_c99_headers_compile(void) { return le_host_kp_rows() == LE_HOST_KP_ROWS && le_a2x_w2v8_lazy() == 1; }
