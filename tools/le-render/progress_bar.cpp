#include "progress_bar.h"

#include <unistd.h>

#include <cstdio>

namespace le_render {

constexpr int kBarWidth = 40;

ProgressBar::ProgressBar(int total) : total_(total < 1 ? 1 : total), terminal_(isatty(STDERR_FILENO) == 1) {}

void ProgressBar::update(int done) {
  if (!terminal_) return;
  const int filled = int(long(done) * kBarWidth / total_);
  char bar[kBarWidth + 1];
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  std::fprintf(stderr, "\r[%s] %d/%d", bar, done, total_);
  std::fflush(stderr);
  lastWidth_ = filled;
}

void ProgressBar::finish() {
  if (terminal_ && lastWidth_ >= 0) std::fputc('\n', stderr);
  lastWidth_ = -1;
}

}  // namespace le_render
