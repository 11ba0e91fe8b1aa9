#include "pipeline/dispatcher.h"

#include <algorithm>

#include "le/le.h"

namespace le::utt {

Dispatcher::Dispatcher(std::function<void()> onDone) : onDone_(std::move(onDone)), thread_([this] { run(); }) {}

Dispatcher::~Dispatcher() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void Dispatcher::setEngine(Engine* engine) {
  std::lock_guard<std::mutex> lock(mu_);
  engine_ = engine;
}

void Dispatcher::post(Request request) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    request_ = std::move(request);
    posted_ = true;
    busy_ = true;
    done_ = false;
  }
  cv_.notify_all();
}

bool Dispatcher::inFlight() const {
  std::lock_guard<std::mutex> lock(mu_);
  return busy_;
}

bool Dispatcher::tryTake(Response& out) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!done_) return false;
  out = std::move(response_);
  done_ = busy_ = false;
  return true;
}

Response Dispatcher::waitTake() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [&] { return done_ || !busy_; });
  Response out = std::move(response_);
  done_ = busy_ = false;
  return out;
}

void Dispatcher::run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [&] { return posted_ || quit_; });
    if (quit_) return;
    Request request = std::move(request_);
    posted_ = false;
    lock.unlock();
    Response response = serve(request);
    lock.lock();
    response_ = std::move(response);
    done_ = true;
    cv_.notify_all();
    lock.unlock();
    onDone_();
    lock.lock();
  }
}

// The engine's calls in their fixed order: reset, eager, push, finish, avail, pull, total.
Response Dispatcher::serve(Request& request) {
  Engine* engine;
  {
    std::lock_guard<std::mutex> lock(mu_);
    engine = engine_;
  }
  Response r;
  r.generation = request.generation;
  if (request.reset) engine->reset(request.resetStart, 1, 1);
  if (request.eagerChanged) engine->setEager(request.eager);
  if (!request.audio.empty()) engine->push(request.audio.data(), int(request.audio.size()));
  if (request.finish) engine->finish();
  const int avail = engine->avail();
  const int take = std::min(avail, request.maxPull);
  if (avail > 0 && take > 0) {
    r.si.resize(size_t(take));
    r.ks.resize(size_t(take) * LE_HOST_KP_FLOATS);
    r.kd.resize(size_t(take) * LE_HOST_KP_FLOATS);
    r.pulled = std::max(0, engine->pull(r.si.data(), r.ks.data(), r.kd.data(), take));
    r.si.resize(size_t(r.pulled));
    r.ks.resize(size_t(r.pulled) * LE_HOST_KP_FLOATS);
    r.kd.resize(size_t(r.pulled) * LE_HOST_KP_FLOATS);
  }
  r.held = std::max(0, avail - r.pulled);
  r.total = engine->total();
  return r;
}

}  // namespace le::utt
