/* Every public header must compile as C99 on its own and together. */
#include "le/le.h"
#include "le/le_a2x.h"
#include "le/le_fca.h"
#include "le/le_motion.h"
#include "le/le_stream.h"
#include "le/le_tel.h"
#include "le/le_tessera.h"
#include "le/le_utt.h"

int le_c99_headers_compile(void) {
  le_utt_opts opts = {0};
  int (*flush)(void) = le_tel_flush;
  void (*record)(const char*, double) = le_tel_record;
  void (*record_str)(const char*, const char*) = le_tel_record_str;
  opts.motion_dir = "";
  (void)flush;
  (void)record;
  (void)record_str;
  return le_host_kp_rows() == LE_HOST_KP_ROWS && le_a2x_w2v8_lazy() == 1 && sizeof(le_utt_stats) == 48 &&
         le_utt_open(0, opts.motion_dir) == 0 && LE_TEL_MAX_PENDING == 256 && le_tel_pending_json()[0] == '{';
}
