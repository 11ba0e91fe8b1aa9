#include "tel/test_collector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace le::test {
namespace {

// A socket bound to an unused port of 127.0.0.1; returns the descriptor and sets port.
int boundLoopbackSocket(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("test collector: cannot bind a loopback socket");
  }
  port = ntohs(address.sin_port);
  return fd;
}

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The value of header `name` (lowercase) in the header block, or "".
std::string headerValue(const std::string& head, const std::string& name) {
  const std::string lower = lowercase(head);
  const size_t at = lower.find("\r\n" + name + ":");
  if (at == std::string::npos) return "";
  const size_t start = head.find_first_not_of(' ', at + name.size() + 3);
  return head.substr(start, head.find("\r\n", start) - start);
}

// Reads one request: the header block, then as many body bytes as Content-Length says. Returns
// nothing when the client closes first.
std::optional<CollectedRequest> readRequest(int client) {
  std::string bytes;
  char chunk[4096];
  size_t headEnd = std::string::npos;
  size_t wanted = 0;
  while (headEnd == std::string::npos || bytes.size() < headEnd + 4 + wanted) {
    const ssize_t n = recv(client, chunk, sizeof chunk, 0);
    if (n <= 0) return std::nullopt;
    bytes.append(chunk, static_cast<size_t>(n));
    if (headEnd == std::string::npos && (headEnd = bytes.find("\r\n\r\n")) != std::string::npos) {
      const std::string length = headerValue(bytes.substr(0, headEnd + 2), "content-length");
      wanted = length.empty() ? 0 : std::stoul(length);
    }
  }
  const std::string head = bytes.substr(0, headEnd + 2);
  return CollectedRequest{head.substr(0, head.find("\r\n")), headerValue(head, "content-type"),
                          bytes.substr(headEnd + 4, wanted)};
}

void sendAnswer(int client, int status) {
  const std::string answer = "HTTP/1.1 " + std::to_string(status) +
                             " Test\r\nContent-Length: 2\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\nok";
  (void)!send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
}

}  // namespace

TestCollector::TestCollector(int status, bool holdAnswers) : status_(status), released_(!holdAnswers) {
  listener_ = boundLoopbackSocket(port_);
  if (listen(listener_, 8) != 0) throw std::runtime_error("test collector: listen failed");
  thread_ = std::thread([this] { serve(); });
}

TestCollector::~TestCollector() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    // Wakes the thread out of accept() or recv().
    shutdown(listener_, SHUT_RDWR);
    if (client_ >= 0) shutdown(client_, SHUT_RDWR);
  }
  changed_.notify_all();
  thread_.join();
  close(listener_);
}

std::string TestCollector::baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

bool TestCollector::waitForRequests(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void TestCollector::release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
  }
  changed_.notify_all();
}

std::vector<CollectedRequest> TestCollector::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void TestCollector::serve() {
  for (;;) {
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_) {
      if (client >= 0) close(client);
      return;
    }
    if (client < 0) continue;
    client_ = client;
    lock.unlock();
    serveOne(client);
    lock.lock();
    client_ = -1;
    lock.unlock();
    close(client);
  }
}

void TestCollector::serveOne(int client) {
  std::optional<CollectedRequest> request = readRequest(client);
  if (!request) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(*request));
  }
  changed_.notify_all();
  if (waitForRelease()) sendAnswer(client, status_);
}

bool TestCollector::waitForRelease() {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, kLongestHold, [&] { return released_ || stopping_; }) && !stopping_;
}

std::string refusingBaseUrl() {
  int port = 0;
  close(boundLoopbackSocket(port));
  return "http://127.0.0.1:" + std::to_string(port);
}

}  // namespace le::test
