// FFmpeg's libraries are not built with ThreadSanitizer: their frame threads synchronise through
// C11 atomics the race detector cannot see, so it reports their own buffer hand-offs as races.
// Interceptors called from inside them are ignored; everything the driver code does around the
// decoder (its own thread, ring, locks and the frames it reads) is still checked. The runtime
// looks this function up by name; builds without ThreadSanitizer never call it.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libavcodec.so\n"
         "called_from_lib:libavutil.so\n"
         "called_from_lib:libavformat.so\n"
         "called_from_lib:libswscale.so\n";
}
