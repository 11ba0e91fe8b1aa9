// The le_stream C interface: argument checks and the family's error convention around le::Stream.
#include <memory>

#include "core/last_error.h"
#include "le/le_stream.h"
#include "pipeline/stream.h"

struct le_stream {
  std::unique_ptr<le::Stream> stream;
};

namespace {

// Creation texts name their own stage ("le_create: ...", "le_fca_create: ..."), so they are kept
// whole rather than prefixed by this export's name.
void setWholeText(const char* text) { le::lastErrorText<le::StreamFamily>() = text; }

}  // namespace

extern "C" {

LE_API const char* le_stream_last_error(void) { return le::lastErrorText<le::StreamFamily>().c_str(); }

LE_API le_stream* le_stream_create(const char* bundle, const char* encoder_path, int threads, int skip, float gain) {
  le::lastErrorText<le::StreamFamily>().clear();
  if (!bundle || !encoder_path) {
    setWholeText("le_stream_create: NULL bundle or encoder path");
    return nullptr;
  }
  try {
    auto s = std::make_unique<le_stream>();
    s->stream = std::make_unique<le::Stream>(bundle, encoder_path, threads, skip, gain);
    return s.release();
  } catch (const std::exception& e) {
    setWholeText(e.what());
  } catch (...) {
    setWholeText("le_stream_create: unknown failure");
  }
  return nullptr;
}

LE_API int le_stream_run(le_stream* s, const float* samples, int count, le_stream_frame_fn callback, void* user) {
  le::lastErrorText<le::StreamFamily>().clear();
  if (!s || (count > 0 && !samples)) {
    setWholeText("le_stream_run: NULL stream or samples");
    return -1;
  }
  try {
    return s->stream->run(samples, count, callback, user);
  } catch (const std::exception& e) {
    const std::string text = e.what();
    setWholeText(text.rfind("le_stream_run: ", 0) == 0 ? text.c_str() : ("le_stream_run: " + text).c_str());
  } catch (...) {
    setWholeText("le_stream_run: unknown failure");
  }
  return -1;
}

LE_API int le_stream_width(const le_stream* s) { return s ? s->stream->width() : 0; }
LE_API int le_stream_height(const le_stream* s) { return s ? s->stream->height() : 0; }

LE_API void le_stream_destroy(le_stream* s) { std::unique_ptr<le_stream> owned(s); }

}  // extern "C"
