#pragma once
// The JSON text frames of the real-time protocol: what the client sends and
// what it makes of what the service sends.

#include <corvenza/error.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "platform/appsync/graphql_request.h"

namespace corvenza::appsync {

enum class ServerMessageType {
  connectionAck,
  connectionError,
  keepAlive,  ///< "ka"
  startAck,
  data,
  error,
  complete,
};

/// The longest silence a connection_ack may grant: a day.
inline constexpr std::int64_t kMaxConnectionTimeoutMs = 24 * 60 * 60 * 1000;

struct ServerMessage {
  ServerMessageType type = ServerMessageType::keepAlive;
  /// The subscription the message is about; empty for connection messages.
  std::string id;
  /// connection_ack: how long the connection may stay silent, 1 to
  /// kMaxConnectionTimeoutMs (a longer span is cut to it, none or a negative
  /// one is left out).
  std::optional<std::int64_t> connectionTimeoutMs;
  /// data: the event (data and/or errors).
  std::optional<GraphQLResult> result;
  /// error and connection_error: the reported errors ("errors" as an array or one object).
  std::vector<Error> errors;
  /// connection_error: the numeric code the service gave, if any and within int.
  std::optional<int> errorCode;
};

/// Domain of malformed frames (code 1) and refusals the service reports
/// outside GraphQL errors.
inline constexpr const char* kRealtimeErrorDomain = "CorvenzaRealtimeError";

/// Reads one text frame. Unknown types and malformed JSON are errors.
detail::Result<ServerMessage> parseServerMessage(std::string_view text);

/// True when @p errors hold an authorization refusal (401/403 codes,
/// Unauthorized or BadRequest types), which is not worth retrying with the
/// same credentials.
bool isAuthorizationFailure(const ServerMessage& message);

/// {"type":"connection_init"}
std::string connectionInitMessage();
/// A start: @p data is the exact text that was signed, sent as a JSON string.
std::string startMessage(const std::string& id, const std::string& data,
                         const nlohmann::json& authorization);
/// {"type":"stop","id":...}
std::string stopMessage(const std::string& id);

/// The "data" string of a start: {"query":...,"variables":...}.
std::string startData(const GraphQLRequest& request);

}  // namespace corvenza::appsync
