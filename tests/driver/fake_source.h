// An in-memory frame source for the cursor tests: frame i is frameBytes bytes of value i, with
// the faults and counters the tests need. Called by the cursor's thread; the counters and the
// "ended" signal are read from the test's thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

#include "driver/source.h"

namespace le::test {

class FakeSource final : public driver::Source {
 public:
  struct Options {
    int NT = 8;
    int W = 4, H = 2;
    int holds = -1;       // frames the member really holds (-1: NT)
    int throwAt = -1;     // `next` of this frame throws "boom at <frame>"
    bool seekThrows = false;
  };

  explicit FakeSource(Options o) : o_(o) {
    if (o_.holds < 0) o_.holds = o_.NT;
  }

  int NT() const override { return o_.NT; }
  int W() const override { return o_.W; }
  int H() const override { return o_.H; }
  bool next(uint8_t* dst) override {
    if (next_ == o_.throwAt) throw std::runtime_error("boom at " + std::to_string(next_));
    if (next_ >= o_.holds) {
      std::lock_guard lk(mu_);
      ended_ = true;
      cv_.notify_all();
      return false;
    }
    std::memset(dst, next_ & 0xff, size_t(frameBytes()));
    ++next_;
    return true;
  }
  void rewind() override {
    next_ = 0;
    ++rewinds;
  }
  void seek(int i) override {
    if (o_.seekThrows) throw std::runtime_error("no seeking here");
    if (i < 0 || i >= o_.NT) throw std::runtime_error("le_driver: seek outside the member");
    next_ = i;
    ++sourceSeeks;
  }
  std::string name() const override { return "fake"; }
  int64_t residentBytes() const override { return 0; }

  // Blocks until `next` has reported the end of the member.
  void waitEnded() {
    std::unique_lock lk(mu_);
    cv_.wait(lk, [this] { return ended_; });
  }

  std::atomic<int> rewinds{0};
  std::atomic<int> sourceSeeks{0};

 private:
  Options o_;
  int next_ = 0;
  std::mutex mu_;
  std::condition_variable cv_;
  bool ended_ = false;  // guarded by mu_
};

}  // namespace le::test
