// A one-line progress bar on standard error, drawn only when standard error is a terminal.
#pragma once

#include <unistd.h>

#include <cstdio>

namespace le::tool {

class ProgressBar {
 public:
  explicit ProgressBar(int total) : total_(total < 1 ? 1 : total), terminal_(isatty(STDERR_FILENO) == 1) {}
  // Ends the line of a bar left unfinished (an error on the way).
  ~ProgressBar() { finish(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Redraws the bar for `done` of `total` items (done may pass total when the total was a guess).
  void update(int done) {
    if (!terminal_) return;
    const int filled = done >= total_ ? kWidth : int(long(done) * kWidth / total_);
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %d/%d", bar, done, total_);
    std::fflush(stderr);
    drawn_ = true;
  }
  // A total learnt on the way.
  void setTotal(int total) { total_ = total < 1 ? 1 : total; }
  // Ends the bar's line.
  void finish() {
    if (terminal_ && drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }

 private:
  static constexpr int kWidth = 40;
  int total_;
  bool terminal_;
  bool drawn_ = false;
};

}  // namespace le::tool
