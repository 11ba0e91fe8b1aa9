// The dispatch thread of an utterance pipeline: it runs the engine's calls for the producer one
// request at a time, so that audio inference overlaps with rendering.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "pipeline/utt_engine.h"

namespace le::utt {

struct Request {
  int64_t generation = 0;  // interrupt generation the request was made in
  bool reset = false;
  int resetStart = 0;  // the producer's idle index
  bool eagerChanged = false;
  int eager = 0;
  std::vector<float> audio;
  bool finish = false;
  int maxPull = 0;
};

struct Response {
  int64_t generation = 0;
  int pulled = 0;
  int held = 0;    // frames the engine has ready beyond those pulled (avail - pulled)
  int total = -1;  // the engine's total after the calls
  std::vector<int32_t> si;
  std::vector<float> ks, kd;  // pulled x 63 each
};

class Dispatcher {
 public:
  // onDone runs on the dispatch thread after each response is posted (it wakes the producer).
  explicit Dispatcher(std::function<void()> onDone);
  // Sets the quit flag and joins the thread; a call in progress finishes first.
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // The engine the requests run on; set once, before the first post.
  void setEngine(Engine* engine);
  // Posts a request; one at a time (the previous response must have been taken).
  void post(Request request);
  bool inFlight() const;
  // Takes the response when it is done, without waiting.
  bool tryTake(Response& out);
  // Waits for the response of the posted request.
  Response waitTake();

 private:
  void run();
  Response serve(Request& request);

  mutable std::mutex mu_;
  std::condition_variable cv_;
  Engine* engine_ = nullptr;  // guarded by mu_
  bool quit_ = false;         // guarded by mu_
  bool posted_ = false;       // guarded by mu_: a request waits for the thread
  bool busy_ = false;         // guarded by mu_: posted or served, response not yet taken
  bool done_ = false;         // guarded by mu_
  Request request_;           // guarded by mu_
  Response response_;         // guarded by mu_
  std::function<void()> onDone_;
  std::thread thread_;
};

}  // namespace le::utt
