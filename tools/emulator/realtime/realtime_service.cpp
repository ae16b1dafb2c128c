#include "realtime/realtime_service.h"

#include <algorithm>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <map>
#include <new>
#include <nlohmann/json.hpp>

#include "base/bounded_json.h"
#include "base/log.h"
#include "base/websocket_upgrade.h"
#include "faults/fault_responses.h"
#include "gateway/estimation_backend.h"
#include "gateway/graphql_service.h"
#include "platform/encoding/base64.h"
#include "platform/sigv4/encoding.h"
#include "sigv4_verifier.h"

namespace corvenza::emulator {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using Json = nlohmann::json;

constexpr std::int64_t kConnectionTimeoutMs = 300'000;

Json errorsPayload(const std::string& type, const std::string& message, int code = 0) {
  Json entry = {{"errorType", type}, {"message", message}};
  if (code != 0) entry["errorCode"] = code;
  return {{"errors", Json::array({entry})}};
}

// A string member of a client's message; "" when absent or of another type
// (json::value() would throw, and nothing may escape a handler).
std::string stringMember(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Answers an upgrade 429 instead of switching protocols, then hangs up.
void refuseUpgrade(std::unique_ptr<WebSocketUpgrade> upgrade) {
  auto reply = std::make_shared<beast::http::response<beast::http::string_body>>(
      beast::http::status::too_many_requests, upgrade->request.version());
  reply->set(beast::http::field::content_type, "text/plain; charset=utf-8");
  reply->body() = "too many real-time connections from this address\n";
  reply->keep_alive(false);
  reply->prepare_payload();
  auto stream = std::make_shared<beast::tcp_stream>(std::move(upgrade->stream));
  stream->expires_after(std::chrono::seconds(10));
  beast::http::async_write(*stream, *reply, [stream, reply](beast::error_code, std::size_t) {
    beast::error_code ignored;
    stream->socket().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
  });
}

}  // namespace

struct RealtimeService::Connection : std::enable_shared_from_this<Connection> {
  Connection(RealtimeService& service, beast::tcp_stream stream, std::string peer)
      : service(service),
        ws(std::move(stream)),
        ka(ws.get_executor()),
        init(ws.get_executor()),
        peer(std::move(peer)) {}

  // Checks a signed blob as if it were the headers of a POST of @p body to
  // @p path; returns the caller's identity or an error payload.
  std::variant<std::string, Json> authenticate(const Json& blob, const std::string& path,
                                               std::string_view body) {
    if (!blob.is_object()) return errorsPayload("UnauthorizedException", "No authorization.", 401);
    sigv4::ReceivedRequest received;
    received.method = "POST";
    received.target = path;
    for (const auto& [key, value] : blob.items()) {
      if (value.is_string()) received.headers.emplace_back(key, value.get<std::string>());
    }
    received.body = body;
    sigv4::VerifierOptions options;
    options.service = "appsync";
    auto& context = service.context_;
    options.lookup = [&context](std::string_view key) {
      return context.credentials.signingCredentials(key);
    };
    const auto now = context.clock.now();
    auto verification = sigv4::verifyRequest(received, options, now);
    if (!verification.ok()) {
      if (verification.status == sigv4::VerificationStatus::signatureMismatch) {
        return errorsPayload("BadRequestException", verification.message, 400);
      }
      return errorsPayload("UnauthorizedException", verification.message, 401);
    }
    auto issued =
        context.credentials.validate(verification.accessKeyId, verification.sessionToken, now);
    if (!issued) {
      return errorsPayload("UnauthorizedException",
                           "The security token included in the request is invalid.", 401);
    }
    return issued.value().identityId;
  }

  void start(beast::http::request<beast::http::string_body> request) {
    const auto target = makeRequest("GET", std::string(request.target()));
    const auto header = queryValue(target.query, "header").value_or("");
    auto blobText = encoding::base64Decode(sigv4::percentDecode(header));
    Json blob = blobText ? parseBoundedJson(*blobText) : Json();
    const auto apiPath = target.path.substr(0, target.path.rfind("/realtime"));
    auto who = authenticate(blob, apiPath + "/connect", "{}");
    if (auto* identity = std::get_if<std::string>(&who)) identityId = *identity;
    refusal = std::get_if<Json>(&who) ? std::optional<Json>(std::get<Json>(who)) : std::nullopt;
    this->apiPath = apiPath;

    ws.read_message_max(kUnacknowledgedMessageLimit);
    ws.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
      response.set(beast::http::field::sec_websocket_protocol, "graphql-ws");
    }));
    ws.async_accept(request, [self = shared_from_this()](beast::error_code ec) {
      if (ec) return;
      logLine("WS /graphql/realtime open");
      self->awaitInit();
      self->read();
    });
  }

  // Until acknowledged, a connection costs a descriptor and proves nothing:
  // one that stays silent (or keeps sending anything but a good
  // connection_init) is closed after the service's bound.
  void awaitInit() {
    init.expires_after(service.initTimeout_);
    init.async_wait([weak = weak_from_this()](beast::error_code ec) {
      auto self = weak.lock();
      if (ec || !self || self->acknowledged) return;
      logLine("WS /graphql/realtime closed: no connection_init in time");
      self->close();
    });
  }

  void read() {
    ws.async_read(buffer, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->closed();
      try {
        auto text = beast::buffers_to_string(self->buffer.data());
        self->buffer.consume(self->buffer.size());
        self->onMessage(text);
      } catch (const std::bad_alloc&) {
        logLine("WS /graphql/realtime closed: out of memory");
        return self->close();
      }
      self->read();
    });
  }

  void onMessage(const std::string& text) {
    auto message = parseBoundedJson(text);
    if (!message.is_object()) {
      return send({{"type", "error"},
                   {"payload", errorsPayload("BadRequestException",
                                             "A message must be a JSON object nested no deeper "
                                             "than " +
                                                 std::to_string(kMaxJsonDepth) + " levels.",
                                             400)}});
    }
    const auto type = stringMember(message, "type");
    const auto id = stringMember(message, "id");
    if (type == "connection_init") {
      if (refusal) {
        send({{"type", "connection_error"}, {"payload", *refusal}});
        return close();
      }
      acknowledged = true;
      init.cancel();
      ws.read_message_max(kMessageLimit);
      send({{"type", "connection_ack"},
            {"payload", {{"connectionTimeoutMs", kConnectionTimeoutMs}}}});
      scheduleKeepAlive();
    } else if (type == "start") {
      startSubscription(id, message);
    } else if (type == "stop") {
      {
        std::lock_guard lock(mutex);
        plans.erase(id);
      }
      send({{"type", "complete"}, {"id", id}});
    }
  }

  void startSubscription(const std::string& id, const Json& message) {
    auto fail = [&](Json payload) {
      send({{"type", "error"}, {"id", id}, {"payload", std::move(payload)}});
    };
    if (identityId.empty()) return fail(errorsPayload("UnauthorizedException", "Not connected."));
    const auto& payload = message.contains("payload") ? message["payload"] : Json();
    if (!payload.is_object() || !payload.contains("data") || !payload["data"].is_string()) {
      return fail(errorsPayload("BadRequestException", "A start needs a data string."));
    }
    const auto data = payload["data"].get<std::string>();
    Json authorization;
    if (payload.contains("extensions") && payload["extensions"].is_object()) {
      authorization = payload["extensions"].value("authorization", Json());
    }
    auto who = authenticate(authorization, apiPath, data);
    if (auto* error = std::get_if<Json>(&who)) return fail(*error);
    if (std::get<std::string>(who) != identityId) {
      return fail(errorsPayload("Unauthorized", "Not authorized for this connection."));
    }
    auto prepared = service.backend_.graphql().prepareSubscription(data, identityId);
    if (auto* error = std::get_if<nlohmann::ordered_json>(&prepared)) return fail(Json(*error));
    auto plan = std::make_shared<gql::SubscriptionPlan>(
        std::get<gql::SubscriptionPlan>(std::move(prepared)));
    auto fault = service.context_.faults.take(
        {faults::Route::Realtime, {}, {plan->fieldName}, /*subscription=*/true});
    if (!fault) {
      listen(id, *plan);
      return send({{"type", "start_ack"}, {"id", id}});
    }
    startWithFault(id, std::move(plan), *fault);
  }

  void listen(const std::string& id, gql::SubscriptionPlan plan) {
    std::lock_guard lock(mutex);
    plans.insert_or_assign(id, std::move(plan));
  }

  // A "before" fault keeps the subscription from being registered unless it
  // is a stall that ends; an "after" fault registers it and then acts in
  // place of the start_ack.
  void startWithFault(const std::string& id, std::shared_ptr<gql::SubscriptionPlan> plan,
                      const faults::Fault& fault) {
    logLine("WS /graphql/realtime start " + plan->fieldName + " (injected fault)");
    if (fault.when == faults::Timing::After) listen(id, *plan);
    auto act = [self = shared_from_this(), id, plan, fault] {
      switch (fault.action) {
        case faults::Action::Stall:
          if (fault.when == faults::Timing::Before) self->listen(id, *plan);
          return self->send({{"type", "start_ack"}, {"id", id}});
        case faults::Action::Drop:
          return self->close();
        default:
          return self->sendText(faults::realtimeFaultFrame(fault, id));
      }
    };
    // A stall without a delay never ends: no answer, and (before) no events.
    if (!fault.delay) {
      if (fault.action != faults::Action::Stall) act();
      return;
    }
    auto timer = std::make_shared<net::steady_timer>(ws.get_executor(), *fault.delay);
    timer->async_wait([timer, act](beast::error_code ec) {
      if (!ec) act();
    });
  }

  // From the store's listener, on any thread.
  void publish(estimation::ChangeKind kind, const std::string& owner, const Json& record) {
    std::vector<std::pair<std::string, nlohmann::ordered_json>> out;
    {
      std::lock_guard lock(mutex);
      for (const auto& [id, plan] : plans) {
        auto event = service.backend_.graphql().executeSubscriptionEvent(plan, kind, owner, record,
                                                                         identityId);
        if (event) out.emplace_back(id, std::move(*event));
      }
    }
    for (auto& [id, event] : out) {
      send({{"type", "data"}, {"id", id}, {"payload", Json(event)}});
    }
  }

  void scheduleKeepAlive() {
    ka.expires_after(service.keepAlive_);
    ka.async_wait([weak = weak_from_this()](beast::error_code ec) {
      auto self = weak.lock();
      if (ec || !self) return;
      self->send({{"type", "ka"}});
      self->scheduleKeepAlive();
    });
  }

  // Thread-safe: every write goes through the connection's strand, one at a time.
  void send(const Json& message) { sendText(message.dump()); }

  void sendText(std::string text) {
    net::dispatch(ws.get_executor(), [self = shared_from_this(), text = std::move(text)]() mutable {
      self->outbox.push_back(std::move(text));
      if (self->outbox.size() == 1) self->writeNext();
    });
  }

  void writeNext() {
    ws.text(true);
    ws.async_write(net::buffer(outbox.front()),
                   [self = shared_from_this()](beast::error_code ec, std::size_t) {
                     self->outbox.pop_front();
                     if (ec) {
                       self->outbox.clear();
                       return;
                     }
                     if (!self->outbox.empty()) self->writeNext();
                   });
  }

  void close() {
    net::dispatch(ws.get_executor(), [self = shared_from_this()] {
      self->ka.cancel();
      self->init.cancel();
      beast::error_code ec;
      beast::get_lowest_layer(self->ws).socket().shutdown(net::ip::tcp::socket::shutdown_both, ec);
      beast::get_lowest_layer(self->ws).socket().close(ec);
    });
  }

  void closed() {
    ka.cancel();
    init.cancel();
    std::lock_guard lock(mutex);
    plans.clear();
  }

  RealtimeService& service;
  websocket::stream<beast::tcp_stream> ws;
  net::steady_timer ka;
  net::steady_timer init;
  const std::string peer;
  bool acknowledged = false;  // on the strand only
  beast::flat_buffer buffer;
  std::deque<std::string> outbox;
  std::string identityId;
  std::string apiPath;
  std::optional<Json> refusal;
  std::mutex mutex;  // guards plans (read by the store's listener)
  std::map<std::string, gql::SubscriptionPlan> plans;
};

RealtimeService::RealtimeService(EmulatorContext& context, gql::EstimationBackend& backend,
                                 std::chrono::milliseconds keepAlive,
                                 std::chrono::milliseconds initTimeout)
    : context_(context), backend_(backend), keepAlive_(keepAlive), initTimeout_(initTimeout) {
  listener_ = backend_.store().addListener(
      [this](estimation::ChangeKind kind, const std::string& owner, const Json& record) {
        std::vector<std::shared_ptr<Connection>> live;
        {
          std::lock_guard lock(mutex_);
          for (auto& weak : connections_) {
            if (auto c = weak.lock()) live.push_back(std::move(c));
          }
        }
        for (auto& connection : live) connection->publish(kind, owner, record);
      });
}

RealtimeService::~RealtimeService() { backend_.store().removeListener(listener_); }

void RealtimeService::accept(std::unique_ptr<WebSocketUpgrade> upgrade) {
  beast::error_code ec;
  const auto endpoint = upgrade->stream.socket().remote_endpoint(ec);
  auto peer = ec ? std::string() : endpoint.address().to_string();
  // Counted and started under one lock, so that upgrades racing on two
  // threads cannot both take the last place.
  std::lock_guard lock(mutex_);
  std::erase_if(connections_, [](const auto& weak) { return weak.expired(); });
  const auto held = std::count_if(connections_.begin(), connections_.end(), [&](const auto& weak) {
    const auto connection = weak.lock();
    return connection && connection->peer == peer;
  });
  if (static_cast<std::size_t>(held) >= kMaxConnectionsPerPeer) {
    logLine("WS /graphql/realtime refused: " + std::to_string(held) + " connections open from " +
            peer);
    return refuseUpgrade(std::move(upgrade));
  }
  auto connection =
      std::make_shared<Connection>(*this, std::move(upgrade->stream), std::move(peer));
  // Started (identity known) before events can reach it.
  connection->start(std::move(upgrade->request));
  connections_.push_back(connection);
}

std::function<void(std::unique_ptr<WebSocketUpgrade>)> RealtimeService::upgradeHandler() {
  return [this](std::unique_ptr<WebSocketUpgrade> upgrade) { accept(std::move(upgrade)); };
}

void RealtimeService::dropConnections() {
  std::vector<std::shared_ptr<Connection>> live;
  {
    std::lock_guard lock(mutex_);
    for (auto& weak : connections_) {
      if (auto c = weak.lock()) live.push_back(std::move(c));
    }
  }
  for (auto& connection : live) connection->close();
}

namespace {

class DropControl final : public Service {
 public:
  explicit DropControl(RealtimeService& service) : service_(service) {}
  std::string_view name() const override { return "realtime-control"; }
  Response handle(const Request& request) override {
    if (request.method != "POST") return simpleError(405, "MethodNotAllowed", "POST only");
    service_.dropConnections();
    Response response;
    response.status = 204;
    return response;
  }

 private:
  RealtimeService& service_;
};

}  // namespace

std::shared_ptr<Service> RealtimeService::dropControl() {
  return std::make_shared<DropControl>(*this);
}

}  // namespace corvenza::emulator
