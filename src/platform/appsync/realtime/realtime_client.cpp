// The real-time client on Boost.Beast. All socket work runs as coroutines on
// one io_context driven by one thread the client owns; public calls only post
// to it. Beast stays in this file because it compiles slowly.

#include "platform/appsync/realtime/realtime_client.h"

#include <atomic>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <cstdio>
#include <deque>
#include <map>
#include <random>
#include <thread>

#include "core/backoff.h"
#include "platform/appsync/realtime/messages.h"
#include "platform/appsync/realtime/realtime_auth.h"
#include "platform/http/proxy_route.h"
#include "platform/http/trust_store.h"

namespace corvenza::appsync {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using asio::awaitable;
using asio::use_awaitable;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

std::string randomUUID() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  std::uint64_t hi = random(), lo = random();
  hi = (hi & 0xFFFFFFFFFFFF0FFFull) | 0x4000ull;
  lo = (lo & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;
  char text[37];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx", unsigned(hi >> 32),
                unsigned((hi >> 16) & 0xFFFF), unsigned(hi & 0xFFFF), unsigned(lo >> 48),
                static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
  return text;
}

Error connectionError(const std::string& detail) {
  return Error(kRealtimeErrorDomain, 3, UserInfo{{"detail", detail}},
               "The real-time connection failed: " + detail);
}

// One open socket, plain or TLS, behind the same small interface.
class Socket {
 public:
  virtual ~Socket() = default;
  virtual awaitable<void> write(const std::string& text) = 0;
  virtual awaitable<std::string> read() = 0;
  virtual awaitable<void> close() = 0;
  /// Breaks any pending operation at once (time-outs, shutdown).
  virtual void abort() = 0;
};

template <typename Stream>
class StreamSocket final : public Socket {
 public:
  template <typename... Args>
  explicit StreamSocket(Args&&... args) : ws(std::forward<Args>(args)...) {}

  awaitable<void> write(const std::string& text) override {
    ws.text(true);
    co_await ws.async_write(asio::buffer(text), use_awaitable);
  }
  awaitable<std::string> read() override {
    beast::flat_buffer buffer;
    co_await ws.async_read(buffer, use_awaitable);
    co_return beast::buffers_to_string(buffer.data());
  }
  awaitable<void> close() override {
    beast::error_code ec;
    co_await ws.async_close(websocket::close_code::normal, asio::redirect_error(use_awaitable, ec));
  }
  void abort() override {
    beast::error_code ec;
    beast::get_lowest_layer(ws).socket().shutdown(tcp::socket::shutdown_both, ec);
    beast::get_lowest_layer(ws).socket().close(ec);
  }

  websocket::stream<Stream> ws;
};

using PlainSocket = StreamSocket<beast::tcp_stream>;
using TlsSocket = StreamSocket<beast::ssl_stream<beast::tcp_stream>>;

struct Subscription {
  std::string id;
  std::string data;  // the exact text signed and sent with each start
  std::shared_ptr<MainQueue> queue;
  SubscriptionHandler handler;
  SubscriptionStarted onStarted;
  std::shared_ptr<std::atomic<bool>> active;
  bool started = false;    // start sent on the current socket
  std::string refusedKey;  // access key the service refused this subscription for
  std::optional<Clock::time_point> ackDeadline;
};

class Core : public std::enable_shared_from_this<Core> {
 public:
  Core(asio::io_context& io, RealtimeConfiguration config, RealtimeEndpoint endpoint,
       std::optional<http::ProxyRoute> proxy)
      : io_(io),
        config_(std::move(config)),
        endpoint_(std::move(endpoint)),
        proxy_(std::move(proxy)),
        tls_(asio::ssl::context::tls_client),
        wake_(io) {
    // An unreadable bundle trusts nothing, so the connection fails rather
    // than falling back to a store the user did not choose.
    if (const auto ca = http::trustedAuthorities(config_.caFile); !ca.empty()) {
      boost::system::error_code ignored;
      // Only a file: a FIFO would block this thread in open().
      if (std::error_code error; std::filesystem::is_regular_file(ca, error)) {
        tls_.load_verify_file(ca.string(), ignored);
      }
    } else {
      tls_.set_default_verify_paths();
    }
    tls_.set_verify_mode(asio::ssl::verify_peer);
  }

  // All below run on the io thread.

  void add(Subscription sub) {
    auto id = sub.id;
    stateQueue_ = sub.queue;
    subscriptions_.emplace(id, std::move(sub));
    if (!running_) {
      running_ = true;
      asio::co_spawn(io_, run(shared_from_this()), asio::detached);
    } else if (ready_) {
      sendStart(subscriptions_.at(id));
    } else {
      wake_.cancel();  // cut a back-off wait short
    }
  }

  void remove(const std::string& id) {
    auto it = subscriptions_.find(id);
    if (it == subscriptions_.end()) return;
    bool started = it->second.started;
    subscriptions_.erase(it);
    if (ready_ && started) enqueue(stopMessage(id));
    if (subscriptions_.empty()) {
      // Close once the stops have gone out; an idle back-off ends at once.
      closing_ = true;
      wake_.cancel();
      // Before the upgrade is answered there is no connection to close
      // politely, and a close frame would race the handshake.
      if (socket_ && !writing_) upgraded_ ? beginClose() : socket_->abort();
    }
  }

  void shutdown() {
    subscriptions_.clear();
    closing_ = true;
    wake_.cancel();
    if (socket_) socket_->abort();
  }

 private:
  static awaitable<void> run(std::shared_ptr<Core> self) { co_await self->loop(); }

  awaitable<void> loop() {
    tell(RealtimeConnectionState::Phase::connecting);
    int attempt = 0;
    std::optional<sigv4::Credentials> refused;
    // Set once refused credentials were dropped: fresh ones refused too are
    // the service's verdict on who we are.
    bool renewed = false;
    while (!subscriptions_.empty()) {
      closing_ = false;
      auto credentials = co_await fetchCredentials();
      std::optional<Error> ended;  // why this attempt's connection ended
      bool sameAsRefused = credentials && refused &&
                           credentials->accessKeyId == refused->accessKeyId &&
                           credentials->sessionToken == refused->sessionToken;
      if (!credentials) {
        deliverErrorToAll(credentials.error());
        ended = credentials.error();
      } else if (!sameAsRefused) {
        authRefused_ = false;
        refusal_.reset();
        co_await session(*credentials);
        if (acknowledged_) {
          attempt = 0;
          renewed = false;
        }
        if (authRefused_ && !renewed) {
          // A service that restarted (or revoked them) no longer knows the
          // credentials in use: fetch fresh ones before anyone hears of it.
          config_.credentials->forget(*credentials);
          renewed = true;
        } else if (refusal_) {
          deliverErrorToAll(*refusal_);
          if (authRefused_) refused = credentials.value();
        }
        ended = refusal_ ? refusal_ : lost_;
      }
      if (subscriptions_.empty()) break;
      co_await backoff(attempt++, std::move(ended));
    }
    running_ = false;
    tell(RealtimeConnectionState::Phase::disconnected);
  }

  void tell(RealtimeConnectionState::Phase phase, int attempt = 0,
            std::chrono::milliseconds delay = {}, std::optional<Error> why = {}) const {
    // Held here, the queue outlives process-wide objects torn down at exit.
    if (!config_.onState || !stateQueue_) return;
    RealtimeConnectionState state;
    state.phase = phase;
    state.attempt = attempt;
    state.nextDelay = delay;
    state.error = std::move(why);
    stateQueue_->async([onState = config_.onState, state = std::move(state)] { onState(state); });
  }

  awaitable<detail::Result<sigv4::Credentials>> fetchCredentials() {
    if (!config_.credentials) co_return connectionError("no credentials");
    // The task may finish on any thread; its outcome is handed to the io thread
    // through a box that outlives this frame if the client goes away first.
    struct Box {
      explicit Box(asio::io_context& io) : signal(io, Clock::time_point::max()) {}
      std::optional<detail::Result<sigv4::Credentials>> outcome;
      asio::steady_timer signal;
    };
    auto box = std::make_shared<Box>(io_);
    config_.credentials->getCredentials().continueWith([&io = io_, box](const auto& result) {
      asio::post(io, [box, result] {
        box->outcome = result;
        box->signal.cancel();
      });
    });
    beast::error_code ec;
    while (!box->outcome) co_await box->signal.async_wait(asio::redirect_error(use_awaitable, ec));
    co_return std::move(*box->outcome);
  }

  std::chrono::system_clock::time_point signingTime() const {
    return config_.skew ? config_.skew->now() : std::chrono::system_clock::now();
  }

  awaitable<void> backoff(int attempt, std::optional<Error> why) {
    static thread_local std::mt19937 random{std::random_device{}()};
    const auto delay = backoffDelay(attempt + 1, config_.reconnectBase, config_.reconnectCap,
                                    std::uniform_real_distribution<double>(0, 1)(random));
    tell(RealtimeConnectionState::Phase::reconnecting, attempt + 1,
         std::chrono::duration_cast<std::chrono::milliseconds>(delay), std::move(why));
    wake_.expires_after(delay);
    beast::error_code ec;
    co_await wake_.async_wait(asio::redirect_error(use_awaitable, ec));
  }

  awaitable<void> session(const sigv4::Credentials& credentials) {
    credentials_ = credentials;
    acknowledged_ = false;
    lost_.reset();
    ready_ = false;
    for (auto& [id, sub] : subscriptions_) {
      sub.started = false;
      sub.ackDeadline.reset();
    }
    try {
      co_await open();
      upgraded_ = true;
      deadline_ = Clock::now() + config_.ackTimeout;
      asio::co_spawn(io_, watchdog(shared_from_this(), socket_), asio::detached);
      enqueue(connectionInitMessage());
      while (socket_) {
        auto text = co_await socket_->read();
        if (!handle(text)) break;
      }
    } catch (const std::exception& failure) {
      // A failed connect, read or close: the loop decides whether to retry.
      lost_ = connectionError(acknowledged_ ? std::string("the connection was lost")
                                            : std::string("cannot connect: ") + failure.what());
    }
    if (socket_) socket_->abort();
    socket_.reset();
    upgraded_ = false;
    ready_ = false;
    writing_ = false;
    outbox_.clear();
  }

  awaitable<void> open() {
    auto blob = connectAuthorization(endpoint_, credentials_, config_.region, signingTime());
    if (!blob) throw std::runtime_error("signing failed");
    tcp::resolver resolver(io_);
    auto addresses =
        co_await resolver.async_resolve(proxy_ ? proxy_->host : endpoint_.host,
                                        proxy_ ? proxy_->port : endpoint_.port, use_awaitable);
    auto decorate = [](websocket::request_type& request) {
      request.set(beast::http::field::sec_websocket_protocol, "graphql-ws");
    };
    std::string target = endpoint_.path + handshakeQuery(blob.value());
    std::string host = endpoint_.host + ":" + endpoint_.port;
    auto upgrade = [&](auto& socket) -> awaitable<void> {
      socket.ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::client));
      socket.ws.set_option(websocket::stream_base::decorator(decorate));
      co_await socket.ws.async_handshake(host, target, use_awaitable);
    };
    if (endpoint_.tls) {
      auto socket = std::make_shared<TlsSocket>(io_, tls_);
      socket_ = socket;
      auto& tcpStream = beast::get_lowest_layer(socket->ws);
      co_await reach(tcpStream, addresses);
      auto& ssl = socket->ws.next_layer();
      if (!SSL_set_tlsext_host_name(ssl.native_handle(), endpoint_.host.c_str())) {
        throw std::runtime_error("server name");
      }
      ssl.set_verify_callback(asio::ssl::host_name_verification(endpoint_.host));
      co_await ssl.async_handshake(asio::ssl::stream_base::client, use_awaitable);
      tcpStream.expires_never();
      co_await upgrade(*socket);
    } else {
      auto socket = std::make_shared<PlainSocket>(io_);
      socket_ = socket;
      auto& tcpStream = beast::get_lowest_layer(socket->ws);
      co_await reach(tcpStream, addresses);
      tcpStream.expires_never();
      co_await upgrade(*socket);
    }
  }

  // Connects to the service, or through the proxy's tunnel to it; the
  // stream's limit stays set for the handshakes that follow.
  awaitable<void> reach(beast::tcp_stream& stream, const tcp::resolver::results_type& addresses) {
    stream.expires_after(config_.ackTimeout);
    co_await stream.async_connect(addresses, use_awaitable);
    if (!proxy_) co_return;
    namespace http = beast::http;
    const bool literal6 = endpoint_.host.find(':') != std::string::npos;
    const std::string authority =
        (literal6 ? "[" + endpoint_.host + "]" : endpoint_.host) + ":" + endpoint_.port;
    http::request<http::empty_body> connect{http::verb::connect, authority, 11};
    connect.set(http::field::host, authority);
    if (!proxy_->authorization.empty()) {
      connect.set(http::field::proxy_authorization, proxy_->authorization);
    }
    co_await http::async_write(stream, connect, use_awaitable);
    beast::flat_buffer buffer;
    http::response_parser<http::empty_body> answer;
    answer.skip(true);  // an answer to CONNECT has no body, whatever its headers say
    co_await http::async_read_header(stream, buffer, answer, use_awaitable);
    const auto status = answer.get().result_int();
    if (status / 100 != 2) {
      refusal_ =
          connectionError("the proxy " + proxy_->shown + " refused the tunnel to " + authority +
                          ": " + std::to_string(status) + " " + std::string(answer.get().reason()));
      throw std::runtime_error("tunnel refused");
    }
    if (buffer.size() != 0) {
      // The server never speaks first: these bytes are the proxy's own.
      refusal_ = connectionError("the proxy " + proxy_->shown +
                                 " sent bytes of its own into the tunnel to " + authority);
      throw std::runtime_error("tunnel spoiled");
    }
  }

  // Ends a connection that missed its ack or went silent past its limit.
  static awaitable<void> watchdog(std::shared_ptr<Core> self, std::shared_ptr<Socket> socket) {
    asio::steady_timer timer(self->io_);
    while (self->socket_ == socket) {
      auto due = self->deadline_;
      for (const auto& [id, sub] : self->subscriptions_) {
        if (sub.ackDeadline && *sub.ackDeadline < due) due = *sub.ackDeadline;
      }
      if (Clock::now() >= due) {
        socket->abort();
        co_return;
      }
      timer.expires_at(std::min(due, Clock::now() + std::chrono::seconds(1)));
      beast::error_code ec;
      co_await timer.async_wait(asio::redirect_error(use_awaitable, ec));
    }
  }

  // Returns false when the connection should end.
  bool handle(const std::string& text) {
    auto parsed = parseServerMessage(text);
    if (!parsed) return true;  // an unknown frame is not worth dropping the connection
    auto& message = parsed.value();
    auto silence = std::chrono::milliseconds(message.connectionTimeoutMs.value_or(300'000));
    switch (message.type) {
      case ServerMessageType::connectionAck:
        timeout_ = silence;
        deadline_ = Clock::now() + timeout_;
        acknowledged_ = true;
        ready_ = true;
        tell(RealtimeConnectionState::Phase::connected);
        for (auto& [id, sub] : subscriptions_) {
          if (sub.refusedKey != credentials_.accessKeyId) sendStart(sub);
        }
        if (subscriptions_.empty()) beginClose();
        return true;
      case ServerMessageType::connectionError:
        authRefused_ = isAuthorizationFailure(message);
        refusal_ = message.errors.front();
        return false;
      case ServerMessageType::keepAlive:
        deadline_ = Clock::now() + timeout_;
        return true;
      case ServerMessageType::startAck:
        if (auto it = subscriptions_.find(message.id); it != subscriptions_.end()) {
          it->second.ackDeadline.reset();
          deliverStarted(it->second);
        }
        return true;
      case ServerMessageType::data:
        deadline_ = Clock::now() + timeout_;
        if (auto it = subscriptions_.find(message.id); it != subscriptions_.end()) {
          deliver(it->second, std::move(message.result), std::nullopt);
        }
        return true;
      case ServerMessageType::error:
        if (auto it = subscriptions_.find(message.id); it != subscriptions_.end()) {
          it->second.ackDeadline.reset();
          deliver(it->second, std::nullopt, message.errors.front());
          // Refused for who we are: restart it only under other credentials.
          if (isAuthorizationFailure(message)) it->second.refusedKey = credentials_.accessKeyId;
        }
        return true;
      case ServerMessageType::complete:
        return true;
    }
    return true;
  }

  void sendStart(Subscription& sub) {
    auto authorization =
        startAuthorization(endpoint_, sub.data, credentials_, config_.region, signingTime());
    if (!authorization) {
      deliver(sub, std::nullopt, authorization.error());
      return;
    }
    sub.started = true;
    sub.ackDeadline = Clock::now() + config_.ackTimeout;
    enqueue(startMessage(sub.id, sub.data, authorization.value()));
  }

  void enqueue(std::string text) {
    outbox_.push_back(std::move(text));
    if (!writing_ && socket_) {
      writing_ = true;
      asio::co_spawn(io_, writer(shared_from_this(), socket_), asio::detached);
    }
  }

  static awaitable<void> writer(std::shared_ptr<Core> self, std::shared_ptr<Socket> socket) {
    try {
      while (!self->outbox_.empty() && self->socket_ == socket) {
        auto text = self->outbox_.front();
        co_await socket->write(text);
        if (!self->outbox_.empty()) self->outbox_.pop_front();
      }
    } catch (const std::exception&) {
      socket->abort();
    }
    if (self->socket_ == socket) {
      self->writing_ = false;
      if (self->closing_ && self->subscriptions_.empty()) self->beginClose();
    }
  }

  void beginClose() {
    auto socket = socket_;
    if (!socket) return;
    asio::co_spawn(io_, closeSocket(socket), asio::detached);
  }

  static awaitable<void> closeSocket(std::shared_ptr<Socket> socket) {
    try {
      co_await socket->close();
    } catch (const std::exception&) {
    }
  }

  void deliver(const Subscription& sub, std::optional<GraphQLResult> result,
               std::optional<Error> error) {
    sub.queue->async([active = sub.active, handler = sub.handler, result = std::move(result),
                      error = std::move(error)] {
      if (*active && handler) handler(result, error);
    });
  }

  void deliverStarted(const Subscription& sub) {
    if (!sub.onStarted) return;
    sub.queue->async([active = sub.active, started = sub.onStarted] {
      if (*active) started();
    });
  }

  void deliverErrorToAll(const Error& error) {
    for (const auto& [id, sub] : subscriptions_) deliver(sub, std::nullopt, error);
  }

  asio::io_context& io_;
  const RealtimeConfiguration config_;
  const RealtimeEndpoint endpoint_;
  const std::optional<http::ProxyRoute> proxy_;
  asio::ssl::context tls_;
  asio::steady_timer wake_;
  std::map<std::string, Subscription> subscriptions_;
  std::shared_ptr<Socket> socket_;
  std::deque<std::string> outbox_;
  sigv4::Credentials credentials_;
  Clock::time_point deadline_;
  std::chrono::milliseconds timeout_{300'000};
  bool running_ = false;
  bool upgraded_ = false;  // the WebSocket handshake of socket_ is done
  bool ready_ = false;
  bool writing_ = false;
  bool closing_ = false;
  bool acknowledged_ = false;
  bool authRefused_ = false;
  std::optional<Error> refusal_;           // the connection_error of the last session
  std::optional<Error> lost_;              // how the last session's socket failed
  std::shared_ptr<MainQueue> stateQueue_;  // where the state goes
};

class Watcher final : public SubscriptionWatcher {
 public:
  Watcher(std::weak_ptr<Core> core, asio::io_context& io, std::string id,
          std::shared_ptr<std::atomic<bool>> active)
      : core_(std::move(core)), io_(io), id_(std::move(id)), active_(std::move(active)) {}
  ~Watcher() override { cancel(); }

  void cancel() override {
    if (!active_->exchange(false)) return;
    if (auto core = core_.lock()) asio::post(io_, [core, id = id_] { core->remove(id); });
  }

 private:
  std::weak_ptr<Core> core_;
  asio::io_context& io_;
  std::string id_;
  std::shared_ptr<std::atomic<bool>> active_;
};

class BeastRealtimeClient final : public RealtimeClient {
 public:
  BeastRealtimeClient(RealtimeConfiguration config, RealtimeEndpoint endpoint,
                      detail::Result<std::optional<http::ProxyRoute>> proxy)
      : proxyProblem_(proxy ? std::nullopt : std::optional<Error>(proxy.error())),
        work_(asio::make_work_guard(io_)),
        core_(std::make_shared<Core>(io_, std::move(config), std::move(endpoint),
                                     proxy ? std::move(proxy.value()) : std::nullopt)),
        thread_([this] { io_.run(); }) {}

  ~BeastRealtimeClient() override {
    asio::post(io_, [core = core_] { core->shutdown(); });
    work_.reset();
    io_.stop();
    thread_.join();
  }

  detail::Result<std::shared_ptr<SubscriptionWatcher>> subscribe(
      GraphQLRequest request, std::shared_ptr<MainQueue> queue, SubscriptionHandler handler,
      SubscriptionStarted started) override {
    if (!queue) return connectionError("no queue");
    if (proxyProblem_) return connectionError(proxyProblem_->localizedDescription());
    Subscription sub;
    sub.id = randomUUID();
    sub.data = startData(request);
    sub.queue = std::move(queue);
    sub.handler = std::move(handler);
    sub.onStarted = std::move(started);
    sub.active = std::make_shared<std::atomic<bool>>(true);
    auto watcher = std::make_shared<Watcher>(core_, io_, sub.id, sub.active);
    asio::post(io_, [core = core_, sub = std::move(sub)]() mutable { core->add(std::move(sub)); });
    return std::shared_ptr<SubscriptionWatcher>(std::move(watcher));
  }

 private:
  const std::optional<Error> proxyProblem_;
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::shared_ptr<Core> core_;
  std::thread thread_;
};

}  // namespace

detail::Result<std::shared_ptr<RealtimeClient>> makeRealtimeClient(RealtimeConfiguration config) {
  auto endpoint = realtimeEndpoint(config.endpointURL);
  if (!endpoint) return endpoint.error();
  auto proxy =
      http::proxyFor(endpoint.value().tls ? "wss" : "ws", endpoint.value().host, config.proxy);
  return std::shared_ptr<RealtimeClient>(std::make_shared<BeastRealtimeClient>(
      std::move(config), std::move(endpoint.value()), std::move(proxy)));
}

}  // namespace corvenza::appsync
