#include "server.h"

#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>

#include "page.h"
#include "report.h"
#include "studio.h"

namespace le_serve {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr auto kFramePeriod = std::chrono::milliseconds(1000 / kFps);
// Droppable messages (frames, stats) waiting for a slow viewer beyond these are dropped.
constexpr size_t kMaxDroppableQueued = 2;
constexpr size_t kReadPiece = 64 * 1024;
// The kernel's send queue to a viewer stays short, so that a slow link shows as dropped frames at
// once instead of as a growing delay.
constexpr int kSendBufferBytes = 64 * 1024;

// The viewer's WebSocket. Messages are read piece by piece so that one over the limit is
// discarded as it streams in (and answered with an error) instead of ending the connection.
class ViewerSocket : public std::enable_shared_from_this<ViewerSocket>, public Viewer {
 public:
  ViewerSocket(tcp::socket socket, Studio& studio, size_t maxMessage)
      : ws_(std::move(socket)), studio_(studio), maxMessage_(maxMessage) {}

  void accept(http::request<http::string_body> request) {
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().set_option(net::socket_base::send_buffer_size(kSendBufferBytes), ignored);
    // Beast's server timeouts ping a viewer that only watches, and let one go that answers no ping
    // for 300 s, which frees the drive.
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    // The limit that ends a connection is far above the one that answers with an error.
    ws_.read_message_max(std::size_t(1) << 30);
    ws_.async_accept(request, [self = shared_from_this()](beast::error_code ec) { self->accepted(ec); });
  }

  bool send(Outgoing message) override {
    if (closing_) return false;
    if (message.droppable && droppableQueued_ >= kMaxDroppableQueued) return false;
    droppableQueued_ += message.droppable;
    queue_.push_back(std::move(message));
    if (!writing_) writeNext();
    return true;
  }

 private:
  void accepted(beast::error_code ec) {
    if (ec) return;
    if (studio_.attach(this)) {
      driving_ = true;
      return readMore();
    }
    report("le-serve: a second viewer was turned away (busy)");
    send({std::make_shared<const std::string>(busyMessage()), false, false});
    closing_ = true;
  }

  void readMore() {
    ws_.async_read_some(buffer_, kReadPiece, [self = shared_from_this()](beast::error_code ec, size_t) {
      self->readPiece(ec);
    });
  }

  void readPiece(beast::error_code ec) {
    if (ec) return leave();
    messageBytes_ += buffer_.size();
    if (messageBytes_ <= maxMessage_) message_ += beast::buffers_to_string(buffer_.data());
    else message_.clear();
    buffer_.consume(buffer_.size());
    if (ws_.is_message_done()) deliver();
    readMore();
  }

  void deliver() {
    if (messageBytes_ > maxMessage_) studio_.onOversized(this, messageBytes_);
    else if (ws_.got_text()) studio_.onText(this, message_);
    else studio_.onBinary(this, message_);
    // A recording's worth of buffer is given back rather than kept for the next small message.
    if (message_.capacity() > kReadPiece) std::string().swap(message_);
    message_.clear();
    messageBytes_ = 0;
  }

  void writeNext() {
    writing_ = true;
    ws_.binary(queue_.front().binary);
    ws_.async_write(net::buffer(*queue_.front().bytes),
                    [self = shared_from_this()](beast::error_code ec, size_t) { self->written(ec); });
  }

  void written(beast::error_code ec) {
    droppableQueued_ -= queue_.front().droppable;
    queue_.pop_front();
    writing_ = false;
    if (ec) return leave();
    if (!queue_.empty()) return writeNext();
    if (closing_ && !driving_)
      ws_.async_close(websocket::close_code::try_again_later, [self = shared_from_this()](beast::error_code) {});
  }

  // The connection ended or failed: the studio forgets the viewer.
  void leave() {
    closing_ = true;
    if (driving_) studio_.detach(this);
    driving_ = false;
  }

  websocket::stream<beast::tcp_stream> ws_;
  Studio& studio_;
  size_t maxMessage_;
  beast::flat_buffer buffer_;
  std::string message_;
  size_t messageBytes_ = 0;
  std::deque<Outgoing> queue_;
  size_t droppableQueued_ = 0;
  bool writing_ = false, closing_ = false, driving_ = false;
};

// One HTTP connection: the page's files, or the upgrade to the viewer's WebSocket.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  HttpConnection(tcp::socket socket, Studio& studio, size_t maxMessage)
      : stream_(std::move(socket)), studio_(studio), maxMessage_(maxMessage) {}

  void readRequest() {
    parser_.emplace();
    parser_->body_limit(16 * 1024);
    stream_.expires_after(std::chrono::seconds(30));
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, size_t) { self->requestRead(ec); });
  }

 private:
  void requestRead(beast::error_code ec) {
    if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == net::error::connection_reset)
      return close();
    if (ec) return respond(http::status::bad_request, "text/plain", "le-serve: malformed request\n", false);
    http::request<http::string_body> request = parser_->release();
    if (websocket::is_upgrade(request) && request.target() == "/ws") {
      beast::get_lowest_layer(stream_).expires_never();
      std::make_shared<ViewerSocket>(stream_.release_socket(), studio_, maxMessage_)->accept(std::move(request));
      return;
    }
    answer(request);
  }

  void answer(const http::request<http::string_body>& request) {
    if (request.method() != http::verb::get)
      return respond(http::status::method_not_allowed, "text/plain", "le-serve: only GET\n", request.keep_alive());
    const std::string_view target(request.target().data(), request.target().size());
    const std::string_view path = target.substr(0, target.find('?'));
    if (path == "/stats") return respond(http::status::ok, "application/json", studio_.stats(), request.keep_alive());
    const PageFile* file = findPageFile(path);
    if (!file) return respond(http::status::not_found, "text/plain", "le-serve: no such page\n", request.keep_alive());
    respond(http::status::ok, file->contentType, file->body, request.keep_alive());
  }

  void respond(http::status status, std::string_view type, std::string_view body, bool keepAlive) {
    auto response = std::make_shared<http::response<http::string_body>>(status, 11);
    response->set(http::field::content_type, beast::string_view(type.data(), type.size()));
    response->set(http::field::cache_control, "no-store");
    response->keep_alive(keepAlive);
    response->body() = std::string(body);
    response->prepare_payload();
    http::async_write(stream_, *response,
                      [self = shared_from_this(), response, keepAlive](beast::error_code ec, size_t) {
                        if (ec || !keepAlive) return self->close();
                        self->readRequest();
                      });
  }

  void close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  }

  beast::tcp_stream stream_;
  Studio& studio_;
  size_t maxMessage_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
};

class Listener {
 public:
  Listener(net::io_context& io, const tcp::endpoint& at, Studio& studio, size_t maxMessage)
      : acceptor_(io), studio_(studio), maxMessage_(maxMessage) {
    beast::error_code ec;
    acceptor_.open(at.protocol(), ec);
    if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_.bind(at, ec);
    if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
    if (ec)
      throw std::runtime_error("le-serve: cannot listen on " + at.address().to_string() + ":" +
                               std::to_string(at.port()) + ": " + ec.message());
  }

  tcp::endpoint endpoint() const { return acceptor_.local_endpoint(); }

  void acceptNext() {
    acceptor_.async_accept([this](beast::error_code ec, tcp::socket socket) {
      if (ec == net::error::operation_aborted) return;
      if (!ec) std::make_shared<HttpConnection>(std::move(socket), studio_, maxMessage_)->readRequest();
      else report("le-serve: accept failed: " + ec.message());
      acceptNext();
    });
  }

 private:
  tcp::acceptor acceptor_;
  Studio& studio_;
  size_t maxMessage_;
};

// The 25 fps clock: a turn every 40 ms on a fixed schedule; after a stall it starts over from now
// rather than firing the missed turns at once.
class FrameClock {
 public:
  FrameClock(net::io_context& io, Studio& studio) : timer_(io), studio_(studio), next_(Clock::now()) {}

  void start() {
    next_ += kFramePeriod;
    if (next_ < Clock::now() - kFramePeriod) next_ = Clock::now() + kFramePeriod;
    timer_.expires_at(next_);
    timer_.async_wait([this](beast::error_code ec) {
      if (ec) return;
      studio_.tick();
      start();
    });
  }

 private:
  net::steady_timer timer_;
  Studio& studio_;
  Clock::time_point next_;
};

tcp::endpoint endpointOf(const ServerOptions& options) {
  beast::error_code ec;
  const net::ip::address address = net::ip::make_address(options.address, ec);
  if (ec) throw std::runtime_error("le-serve: --listen " + options.address + " is not an IP address");
  return {address, static_cast<unsigned short>(options.port)};
}

}  // namespace

void serve(Stage& stage, const ServerOptions& options) {
  net::io_context io(1);
  net::thread_pool offload(1);
  const size_t maxMessage = options.limits.maxUploadBytes + 4096;
  Studio studio(stage, options.limits, [&](Studio::Task t) { net::post(offload, std::move(t)); },
                [&](Studio::Task t) { net::post(io, std::move(t)); });
  Listener listener(io, endpointOf(options), studio, maxMessage);
  listener.acceptNext();
  FrameClock clock(io, studio);
  clock.start();
  net::signal_set stop(io, SIGINT, SIGTERM);
  stop.async_wait([&](beast::error_code, int) { io.stop(); });
  const tcp::endpoint at = listener.endpoint();
  const std::string host = at.address().is_v6() ? "[" + at.address().to_string() + "]" : at.address().to_string();
  std::printf("le-serve: serving http://%s:%u/\n", host.c_str(), unsigned(at.port()));
  std::fflush(stdout);
  io.run();
  offload.join();
}

}  // namespace le_serve
