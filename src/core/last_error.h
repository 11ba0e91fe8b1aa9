// Per-thread last-error texts of the C export families and the one place where exceptions are
// turned into them.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace le {

// Export families, each with its own per-thread text so that a failure in one family never shows
// through another family's last-error function.
struct CoreFamily {};
// The audio-to-expression family (le_a2x_*), read with le_a2x_last_error().
struct A2xFamily {};
// The motion-generator family (le_motion_*), read with le_motion_last_error().
struct MotionFamily {};
// The utterance-pipeline family (le_utt_*), read with le_utt_last_error().
struct UttFamily {};
// The face-coefficient animator family (le_fca_*), read with le_fca_last_error().
struct FcaFamily {};
// The offline stream family (le_stream_*), read with le_stream_last_error().
struct StreamFamily {};

// The calling thread's text of one family: created empty on the thread's first use, destroyed
// when the thread ends.
template <class Family>
std::string& lastErrorText() {
  thread_local std::string text;
  return text;
}

// Replaces the calling thread's text with where + ": " + what.
template <class Family>
void setErr(const char* where, const char* what) {
  std::string& text = lastErrorText<Family>();
  text.assign(where);
  text.append(": ");
  text.append(what);
}

template <class Family>
void setErr(const char* where, const std::exception& e) {
  setErr<Family>(where, e.what());
}

// Runs one export body: clears the family's text, runs fn, and turns any exception into the text
// and the export's failure value. Exceptions not derived from std::exception are caught too, so
// that nothing ever unwinds into the host's C frames.
template <class Family, class R, class Fn>
R guarded(const char* where, R failValue, Fn&& fn) {
  lastErrorText<Family>().clear();
  try {
    return std::forward<Fn>(fn)();
  } catch (const std::exception& e) {
    setErr<Family>(where, e);
  } catch (...) {
    setErr<Family>(where, "unknown exception (not derived from std::exception)");
  }
  return failValue;
}

}  // namespace le
