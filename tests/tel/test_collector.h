// A collection service for delivery tests: an HTTP server on 127.0.0.1 with one thread, which
// reads each request whole and answers it with a fixed status, or holds the answer back.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace le::test {

struct CollectedRequest {
  std::string requestLine;  // "POST /v1/telemetry/ingest HTTP/1.1"
  std::string contentType;  // the Content-Type header's value
  std::string body;
};

class TestCollector {
 public:
  static constexpr std::chrono::seconds kLongestHold{30};

  // Answers every request with `status` at once; with holdAnswers, only once release() is called.
  // A held request that is never released is dropped unanswered after kLongestHold, so that a
  // client without a timeout of its own fails its test instead of hanging it.
  explicit TestCollector(int status, bool holdAnswers = false);
  ~TestCollector();
  TestCollector(const TestCollector&) = delete;
  TestCollector& operator=(const TestCollector&) = delete;

  std::string baseUrl() const;  // "http://127.0.0.1:<port>"
  // Waits until `count` requests were read whole; false after `timeout`.
  bool waitForRequests(size_t count, std::chrono::milliseconds timeout);
  // Lets held answers go out.
  void release();
  std::vector<CollectedRequest> requests();

 private:
  void serve();
  void serveOne(int client);
  // Waits until answers may go out; false when the collector stops or kLongestHold passes first.
  bool waitForRelease();

  const int status_;
  int listener_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<CollectedRequest> requests_;  // guarded by mutex_
  bool released_;                           // guarded by mutex_
  bool stopping_ = false;                   // guarded by mutex_
  int client_ = -1;                         // guarded by mutex_; the connection being served
  std::thread thread_;
};

// A base URL on 127.0.0.1 where nothing listens: connecting is refused at once.
std::string refusingBaseUrl();

}  // namespace le::test
