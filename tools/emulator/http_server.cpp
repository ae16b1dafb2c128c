#include "http_server.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <chrono>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "log.h"
#include "realtime/websocket_upgrade.h"

namespace corvenza::emulator {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
using tcp = net::ip::tcp;

// Idle keep-alive connections are closed after this long.
constexpr std::chrono::seconds kIdleTimeout{60};
// Signed requests carry long headers (session token, signature); allow ample room.
constexpr std::uint32_t kHeaderLimit = 64 * 1024;

class Session : public std::enable_shared_from_this<Session> {
 public:
  using UpgradeHandlers =
      std::map<std::string, std::function<void(std::unique_ptr<WebSocketUpgrade>)>>;

  Session(tcp::socket socket, const Router& router, const UpgradeHandlers& upgrades)
      : stream_(std::move(socket)), router_(router), upgrades_(upgrades) {}

  void start() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read(); });
  }

 private:
  void read() {
    parser_.emplace();
    parser_->body_limit(HttpServer::kBodyLimit);
    parser_->header_limit(kHeaderLimit);
    stream_.expires_after(kIdleTimeout);
    bhttp::async_read(stream_, buffer_, *parser_,
                      [self = shared_from_this()](beast::error_code ec, std::size_t) {
                        self->onRead(ec);
                      });
  }

  void onRead(beast::error_code ec) {
    if (ec == bhttp::error::end_of_stream) return close();
    if (ec == bhttp::error::body_limit) {
      keepAlive_ = false;
      version_ = 11;
      const auto& head = parser_->get();
      const auto target = std::string(head.target());
      return write(simpleError(413, "PayloadTooLarge", "the request body is too large"),
                   std::string(head.method_string()), target.substr(0, target.find('?')));
    }
    if (ec) return;  // Timed out, reset or garbled: drop the connection.

    auto message = parser_->release();
    if (boost::beast::websocket::is_upgrade(message)) {
      const auto target = std::string(message.target());
      auto handler = upgrades_.find(target.substr(0, target.find('?')));
      if (handler != upgrades_.end()) {
        stream_.expires_never();
        return handler->second(
            std::make_unique<WebSocketUpgrade>(std::move(stream_), std::move(message)));
      }
    }
    keepAlive_ = message.keep_alive();
    version_ = message.version();
    http::HttpHeaders headers;
    for (const auto& field : message) {
      headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    auto request = makeRequest(std::string(message.method_string()), std::string(message.target()),
                               std::move(headers), std::move(message.body()));
    beast::error_code peerError;
    const auto peer = stream_.socket().remote_endpoint(peerError);
    if (!peerError) request.remoteAddress = peer.address().to_string();
    auto method = request.method;
    auto path = request.path;
    router_.dispatch(std::move(request),
                     [self = shared_from_this(), method = std::move(method),
                      path = std::move(path)](Response response) mutable {
                       // Services may answer from another thread: come back to the strand.
                       net::dispatch(self->stream_.get_executor(),
                                     [self, response = std::move(response),
                                      method = std::move(method), path = std::move(path)]() mutable {
                                       self->write(std::move(response), method, path);
                                     });
                     });
  }

  void write(Response response, const std::string& method, const std::string& path) {
    // The path only: a query string may hold a presigned signature.
    logLine(method + " " + path + " " + std::to_string(response.status));
    auto reply = std::make_shared<bhttp::response<bhttp::string_body>>();
    reply->result(static_cast<unsigned>(response.status));
    reply->version(version_);
    reply->set(bhttp::field::server, "corvenza-emulator");
    for (auto& [name, value] : response.headers) reply->insert(name, value);
    reply->body() = std::move(response.body);
    reply->keep_alive(keepAlive_);
    reply->prepare_payload();
    bhttp::async_write(stream_, *reply,
                       [self = shared_from_this(), reply](beast::error_code ec, std::size_t) {
                         if (ec) return;
                         if (!self->keepAlive_) return self->close();
                         self->read();
                       });
  }

  void close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<bhttp::request_parser<bhttp::string_body>> parser_;
  const Router& router_;
  const UpgradeHandlers& upgrades_;
  bool keepAlive_ = true;
  unsigned version_ = 11;
};

}  // namespace

struct HttpServer::Impl {
  explicit Impl(const Router& r) : router(r) {}

  void accept() {
    acceptor.async_accept(net::make_strand(context), [this](beast::error_code ec, tcp::socket socket) {
      if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
      if (!ec) std::make_shared<Session>(std::move(socket), router, upgrades)->start();
      accept();
    });
  }

  const Router& router;
  Session::UpgradeHandlers upgrades;
  net::io_context context;
  tcp::acceptor acceptor{context};
  std::vector<std::thread> threads;
};

HttpServer::HttpServer(const Router& router) : impl_(std::make_unique<Impl>(router)) {}

HttpServer::~HttpServer() { stop(); }

void HttpServer::onUpgrade(std::string path,
                           std::function<void(std::unique_ptr<WebSocketUpgrade>)> handler) {
  impl_->upgrades[std::move(path)] = std::move(handler);
}

detail::Result<std::uint16_t> HttpServer::start(const std::string& host, std::uint16_t port,
                                                int threads) {
  beast::error_code ec;
  const auto address = net::ip::make_address(host, ec);
  if (ec) return Error("EmulatorServerError", 1, std::nullopt, "not an IP address: " + host);
  const tcp::endpoint endpoint(address, port);
  auto& acceptor = impl_->acceptor;
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    return Error("EmulatorServerError", ec.value(), std::nullopt,
                 "cannot listen on " + host + ":" + std::to_string(port) + ": " + ec.message());
  }
  const auto bound = acceptor.local_endpoint().port();
  impl_->accept();
  for (int i = 0; i < std::max(1, threads); ++i) {
    impl_->threads.emplace_back([this] { impl_->context.run(); });
  }
  return bound;
}

void HttpServer::stop() {
  if (!impl_) return;
  // The acceptor is closed only once no server thread can touch it any more.
  impl_->context.stop();
  for (auto& thread : impl_->threads) thread.join();
  impl_->threads.clear();
  beast::error_code ignored;
  impl_->acceptor.close(ignored);
}

}  // namespace corvenza::emulator
