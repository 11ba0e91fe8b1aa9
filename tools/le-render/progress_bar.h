// A one-line progress bar on standard error, drawn only when standard error is a terminal.
#pragma once

namespace le_render {

class ProgressBar {
 public:
  explicit ProgressBar(int total);
  // Ends the line of a bar left unfinished (an error on the way).
  ~ProgressBar() { finish(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  // Redraws the bar for `done` of `total` items.
  void update(int done);
  // Ends the bar's line.
  void finish();

 private:
  int total_;
  bool terminal_;
  int lastWidth_ = -1;
};

}  // namespace le_render
