/* Every public header must compile as C99 on its own and together. */
#include "le/le.h"
#include "le/le_a2x.h"
#include "le/le_fca.h"
#include "le/le_stream.h"
#include "le/le_motion.h"
#include "le/le_tessera.h"
#include "le/le_utt.h"

int le_c99_headers_compile(void) {
  le_utt_opts opts = {0};
  opts.motion_dir = "";
  return le_host_kp_rows() == LE_HOST_KP_ROWS && le_a2x_w2v8_lazy() == 1 && sizeof(le_utt_stats) == 48 &&
         le_utt_open(0, opts.motion_dir) == 0;
}
