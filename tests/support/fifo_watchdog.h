// Keeps a test that meets a FIFO from hanging when the library under test waits on it.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace le::test {

// If the library under test ever blocks on the FIFO at `path`, opening its write end (and closing
// it) after a generous wait lets the blocked open return and the read see an empty file, so a hang
// turns into a failed expectation on the error text instead of a stuck test binary.
class FifoWatchdog {
 public:
  explicit FifoWatchdog(std::string path)
      : path_(std::move(path)), thread_([this] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (done_.wait_for(lock, std::chrono::seconds(60), [this] { return finished_; })) return;
          fired_ = true;
          const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
          if (fd >= 0) ::close(fd);
        }) {}
  ~FifoWatchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished_ = true;
    }
    done_.notify_all();
    thread_.join();
  }

  // Whether the wait ran out and the write end was opened: the library blocked on the FIFO.
  bool fired() {
    std::lock_guard<std::mutex> lock(mutex_);
    return fired_;
  }

 private:
  std::string path_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;  // guarded by mutex_
  bool fired_ = false;     // guarded by mutex_
  std::thread thread_;
};

}  // namespace le::test
