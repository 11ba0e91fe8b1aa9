// FFmpeg's own diagnostics (a demuxer's complaint, a damaged frame of a driver video or teeth bank)
// sent through the library's log path while the host has a hook set, instead of straight to
// standard error.
#pragma once

namespace le {

// Installs the library's FFmpeg log callback when throughHook is true, FFmpeg's default otherwise.
// FFmpeg keeps one callback per process, so this replaces any the host installed before.
void routeFfmpegLog(bool throughHook);

}  // namespace le
