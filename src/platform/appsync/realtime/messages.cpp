#include "platform/appsync/realtime/messages.h"

#include <algorithm>
#include <limits>

#include "platform/appsync/graphql_error.h"
#include "platform/appsync/response_mapping.h"

namespace corvenza::appsync {

namespace {

Error malformed(std::string detail) {
  return Error(kRealtimeErrorDomain, 1, UserInfo{{"detail", detail}},
               "Malformed real-time message: " + detail);
}

std::optional<ServerMessageType> typeFromText(std::string_view text) {
  if (text == "connection_ack") return ServerMessageType::connectionAck;
  if (text == "connection_error") return ServerMessageType::connectionError;
  if (text == "ka") return ServerMessageType::keepAlive;
  if (text == "start_ack") return ServerMessageType::startAck;
  if (text == "data") return ServerMessageType::data;
  if (text == "error") return ServerMessageType::error;
  if (text == "complete") return ServerMessageType::complete;
  return std::nullopt;
}

// An integer as sent, or nothing when it is not one or lies beyond int64.
std::optional<std::int64_t> integerOf(const nlohmann::json& value) {
  if (value.is_number_unsigned()) {
    const auto u = value.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(u);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  return std::nullopt;
}

bool needsId(ServerMessageType type) {
  return type == ServerMessageType::startAck || type == ServerMessageType::data ||
         type == ServerMessageType::complete;
}

}  // namespace

detail::Result<ServerMessage> parseServerMessage(std::string_view text) {
  auto json = parseResponseJson(text);
  if (json.is_discarded() || !json.is_object()) return malformed("not a JSON object");
  auto typeIt = json.find("type");
  if (typeIt == json.end() || !typeIt->is_string()) return malformed("no type");
  auto type = typeFromText(typeIt->get<std::string>());
  if (!type) return malformed("unknown type " + typeIt->get<std::string>());

  ServerMessage message;
  message.type = *type;
  if (auto id = json.find("id"); id != json.end() && id->is_string()) {
    message.id = id->get<std::string>();
  }
  if (needsId(*type) && message.id.empty()) return malformed("no id");

  const nlohmann::json* payload = nullptr;
  if (auto p = json.find("payload"); p != json.end() && p->is_object()) payload = &*p;

  switch (*type) {
    case ServerMessageType::connectionAck:
      if (payload) {
        // The connection adds it to the clock: no span or a negative one is
        // ignored, one beyond a day is cut to a day.
        auto timeout = payload->find("connectionTimeoutMs");
        if (timeout != payload->end() && timeout->is_number_unsigned()) {
          const auto ms = timeout->get<std::uint64_t>();
          const auto max = static_cast<std::uint64_t>(kMaxConnectionTimeoutMs);
          if (ms > 0) message.connectionTimeoutMs = static_cast<std::int64_t>(std::min(ms, max));
        }
      }
      break;
    case ServerMessageType::data: {
      if (!payload) return malformed("data without payload");
      GraphQLResult result;
      if (auto d = payload->find("data"); d != payload->end() && !d->is_null()) result.data = *d;
      if (auto e = payload->find("errors"); e != payload->end()) {
        result.errors = parseGraphQLErrors(*e);
      }
      message.result = std::move(result);
      break;
    }
    case ServerMessageType::error:
    case ServerMessageType::connectionError:
      if (payload) {
        if (auto e = payload->find("errors"); e != payload->end()) {
          message.errors = parseGraphQLErrors(*e);
          const auto& first = e->is_array() && !e->empty() ? e->front() : *e;
          if (first.is_object()) {
            // Out of int range it is no code we know; wrapped it could read as 401.
            auto code = first.find("errorCode");
            auto value = code != first.end() ? integerOf(*code) : std::nullopt;
            if (value && *value >= std::numeric_limits<int>::min() &&
                *value <= std::numeric_limits<int>::max()) {
              message.errorCode = static_cast<int>(*value);
            }
          }
        }
      }
      if (message.errors.empty()) {
        message.errors.push_back(Error(kRealtimeErrorDomain, 2, std::nullopt,
                                       "The real-time service reported an error."));
      }
      break;
    default:
      break;
  }
  return message;
}

bool isAuthorizationFailure(const ServerMessage& message) {
  if (message.errorCode == 400 || message.errorCode == 401 || message.errorCode == 403) {
    return true;
  }
  for (const auto& error : message.errors) {
    if (!error.userInfo()) continue;
    auto type = error.userInfo()->find("errorType");
    if (type == error.userInfo()->end()) continue;
    const auto& t = type->second;
    if (t == "Unauthorized" || t == "UnauthorizedException" || t == "BadRequestException") {
      return true;
    }
  }
  return false;
}

std::string connectionInitMessage() { return R"({"type":"connection_init"})"; }

std::string startMessage(const std::string& id, const std::string& data,
                         const nlohmann::json& authorization) {
  nlohmann::json message = {
      {"id", id},
      {"type", "start"},
      {"payload", {{"data", data}, {"extensions", {{"authorization", authorization}}}}}};
  // Text that is not UTF-8 (an identity id, say) is replaced, never thrown:
  // the service then refuses the subscription with an error of its own.
  return message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string stopMessage(const std::string& id) {
  return nlohmann::json{{"type", "stop"}, {"id", id}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string startData(const GraphQLRequest& request) {
  nlohmann::json data = {{"query", request.query}};
  data["variables"] = request.variables.value_or(nlohmann::json::object());
  if (request.operationName) data["operationName"] = *request.operationName;
  return data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace corvenza::appsync
