/* The motion generator's public header compiles as C99 on its own and beside le.h. */
#include "le/le_motion.h"
#include "le/le.h"

int le_c99_motion_header_compiles(void) { return le_motion_nt(NULL) == 0 && le_motion_total(NULL) == 0; }
