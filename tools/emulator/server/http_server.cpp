#include "server/http_server.h"

#include <algorithm>
#include <array>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <chrono>
#include <exception>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/websocket_upgrade.h"
#include "faults/fault_responses.h"

namespace corvenza::emulator {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
using tcp = net::ip::tcp;

// How long accepting waits after a failure such as running out of
// descriptors: doubling from the first to the last.
constexpr std::chrono::milliseconds kFirstAcceptBackoff{10};
constexpr std::chrono::milliseconds kLastAcceptBackoff{500};
// Signed requests carry long headers (session token, signature); allow ample room.
constexpr std::uint32_t kHeaderLimit = 64 * 1024;

class Session : public std::enable_shared_from_this<Session> {
 public:
  using UpgradeHandlers =
      std::map<std::string, std::function<void(std::unique_ptr<WebSocketUpgrade>)>>;

  Session(tcp::socket socket, const Router& router, const UpgradeHandlers& upgrades,
          const HttpServer::FaultSource& faults, const HttpServer::Admission& admission,
          std::chrono::milliseconds requestTimeout)
      : stream_(std::move(socket)),
        router_(router),
        upgrades_(upgrades),
        faults_(faults),
        admission_(admission),
        requestTimeout_(requestTimeout),
        faultTimer_(stream_.get_executor()) {}

  void start() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read(); });
  }

 private:
  void read() {
    parser_.emplace();
    parser_->body_limit(HttpServer::kBodyLimit);
    parser_->header_limit(kHeaderLimit);
    // One deadline for the whole head, so trickling bytes does not extend it.
    stream_.expires_after(requestTimeout_);
    bhttp::async_read_header(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onHead(ec); });
  }

  void onHead(beast::error_code ec) {
    if (ec || parser_->is_done()) return onRead(ec);
    // A chunked body has no length to pace: it keeps the head's deadline.
    const auto length = parser_->content_length().value_or(0);
    stream_.expires_after(
        requestTimeout_ +
        std::chrono::milliseconds(length * 1000 / HttpServer::kSlowestBodyBytesPerSecond));
    bhttp::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
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
    keepAlive_ = message.keep_alive();
    version_ = message.version();
    const auto target = std::string(message.target());
    auto handler = boost::beast::websocket::is_upgrade(message)
                       ? upgrades_.find(target.substr(0, target.find('?')))
                       : upgrades_.end();
    const bool upgrading = handler != upgrades_.end();
    http::HttpHeaders headers;
    for (const auto& field : message) {
      headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    auto request = makeRequest(std::string(message.method_string()), target, std::move(headers),
                               upgrading ? std::string() : std::move(message.body()));
    beast::error_code peerError;
    const auto peer = stream_.socket().remote_endpoint(peerError);
    if (!peerError) request.remoteAddress = peer.address().to_string();
    if (auto refusal = admission_ ? admission_(request) : std::nullopt) {
      keepAlive_ = false;
      return write(std::move(*refusal), request.method, request.path);
    }
    if (upgrading) return upgrade(std::move(message), handler->second);
    auto fault = faults_ ? faults_(request) : std::nullopt;
    if (!fault || fault->when == faults::Timing::After) return dispatch(std::move(request), fault);
    // The fault comes first: the service sees the request only when a stall lets it pass.
    auto shared = std::make_shared<Request>(std::move(request));
    afterFaultDelay(*fault, [self = shared_from_this(), shared, fault = *fault] {
      if (fault.action == faults::Action::Stall) return self->dispatch(std::move(*shared), {});
      self->act(fault, shared->method, shared->path);
    });
  }

  void upgrade(bhttp::request<bhttp::string_body> message,
               const std::function<void(std::unique_ptr<WebSocketUpgrade>)>& handler) {
    const auto target = std::string(message.target());
    auto fault =
        faults_ ? faults_(makeRequest(std::string(message.method_string()), target)) : std::nullopt;
    auto shared = std::make_shared<bhttp::request<bhttp::string_body>>(std::move(message));
    auto handOver = [self = shared_from_this(), shared, &handler] {
      self->stream_.expires_never();
      handler(std::make_unique<WebSocketUpgrade>(std::move(self->stream_), std::move(*shared)));
    };
    if (!fault) return handOver();
    keepAlive_ = false;  // a refused upgrade leaves nothing to talk about
    afterFaultDelay(*fault, [self = shared_from_this(), handOver, fault = *fault,
                             method = std::string(shared->method_string()),
                             path = target.substr(0, target.find('?'))] {
      if (fault.action == faults::Action::Stall) return handOver();
      self->act(fault, method, path);
    });
  }

  // Hands @p request to its service. With an "after" @p fault, the service's
  // answer is then replaced by what the fault does.
  void dispatch(Request request, std::optional<faults::Fault> fault) {
    auto method = request.method;
    auto path = request.path;
    router_.dispatch(std::move(request), [self = shared_from_this(), method = std::move(method),
                                          path = std::move(path),
                                          fault = std::move(fault)](Response response) mutable {
      // Services may answer from another thread: come back to the strand.
      net::dispatch(self->stream_.get_executor(),
                    [self, response = std::move(response), method = std::move(method),
                     path = std::move(path), fault = std::move(fault)]() mutable {
                      if (!fault) return self->write(std::move(response), method, path);
                      auto answer = std::make_shared<Response>(std::move(response));
                      self->afterFaultDelay(*fault, [self, answer, method, path, fault = *fault] {
                        if (fault.action == faults::Action::Stall) {
                          return self->write(std::move(*answer), method, path, true);
                        }
                        self->act(fault, method, path);
                      });
                    });
    });
  }

  // Runs @p then after the fault's delay, on the strand. A stall without a
  // delay never runs it: the connection is held until the client closes it.
  void afterFaultDelay(const faults::Fault& fault, std::function<void()> then) {
    if (!fault.delay) {
      if (fault.action == faults::Action::Stall) return holdUntilClosed();
      return then();
    }
    faultTimer_.expires_after(*fault.delay);
    faultTimer_.async_wait(
        [self = shared_from_this(), then = std::move(then)](beast::error_code ec) {
          if (!ec) then();
        });
  }

  // Fail, malformed or drop in place of an answer.
  void act(const faults::Fault& fault, const std::string& method, const std::string& path) {
    if (fault.action != faults::Action::Drop) {
      return write(faults::faultResponse(fault), method, path, true);
    }
    logLine(method + " " + path + " dropped (injected fault)");
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
  }

  // Reads and discards until the client closes; the pending read keeps the
  // session, and so the connection, alive until then.
  void holdUntilClosed() {
    stream_.expires_never();
    stream_.async_read_some(net::buffer(discard_),
                            [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (!ec) self->holdUntilClosed();
                            });
  }

  void write(Response response, const std::string& method, const std::string& path,
             bool injected = false) {
    // The path only: a query string may hold a presigned signature.
    logLine(method + " " + path + " " + std::to_string(response.status) +
            (injected ? " (injected fault)" : ""));
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
  const HttpServer::FaultSource& faults_;
  const HttpServer::Admission& admission_;
  const std::chrono::milliseconds requestTimeout_;
  net::steady_timer faultTimer_;
  std::array<char, 512> discard_{};
  bool keepAlive_ = true;
  unsigned version_ = 11;
};

}  // namespace

struct HttpServer::Impl {
  Impl(const Router& r, std::chrono::milliseconds timeout) : router(r), requestTimeout(timeout) {}

  void accept() {
    acceptor.async_accept(
        net::make_strand(context), [this](beast::error_code ec, tcp::socket socket) {
          if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
          if (!ec || ec == net::error::connection_aborted) {
            if (!ec) {
              std::make_shared<Session>(std::move(socket), router, upgrades, faults, admission,
                                        requestTimeout)
                  ->start();
            }
            acceptBackoff = std::chrono::milliseconds(0);
            return accept();
          }
          // Out of descriptors or memory: the connection stays queued, so trying
          // again at once would spin. Open connections go on being served meanwhile.
          if (acceptBackoff.count() == 0) {
            logLine("accept failed (" + ec.message() + "); backing off");
          }
          acceptBackoff = std::clamp(acceptBackoff * 2, kFirstAcceptBackoff, kLastAcceptBackoff);
          acceptRetry.expires_after(acceptBackoff);
          acceptRetry.async_wait([this](beast::error_code waited) {
            if (!waited) accept();
          });
        });
  }

  // A handler that throws loses its connection (its session goes with the
  // handler), never the thread, and so never the emulator.
  void run() {
    for (;;) {
      try {
        context.run();
        return;
      } catch (const std::exception& failure) {
        logLine(std::string("a connection failed and was dropped: ") + failure.what());
      }
    }
  }

  const Router& router;
  const std::chrono::milliseconds requestTimeout;
  Session::UpgradeHandlers upgrades;
  HttpServer::FaultSource faults;
  HttpServer::Admission admission;
  net::io_context context;
  tcp::acceptor acceptor{context};
  // Only one accept or retry is pending at a time, so these need no strand.
  net::steady_timer acceptRetry{context};
  std::chrono::milliseconds acceptBackoff{0};
  std::vector<std::thread> threads;
};

HttpServer::HttpServer(const Router& router, std::chrono::milliseconds requestTimeout)
    : impl_(std::make_unique<Impl>(router, requestTimeout)) {}

HttpServer::~HttpServer() { stop(); }

void HttpServer::onUpgrade(std::string path,
                           std::function<void(std::unique_ptr<WebSocketUpgrade>)> handler) {
  impl_->upgrades[std::move(path)] = std::move(handler);
}

void HttpServer::setFaultSource(FaultSource source) { impl_->faults = std::move(source); }

void HttpServer::setAdmission(Admission admission) { impl_->admission = std::move(admission); }

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
    impl_->threads.emplace_back([this] { impl_->run(); });
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
