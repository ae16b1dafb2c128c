#pragma once
// A caller of an in-process emulator's real-time endpoint with freshly issued
// credentials: the signed handshake target and signed start messages.

#include <nlohmann/json.hpp>
#include <string>

#include "emulator.h"
#include "platform/appsync/realtime/realtime_auth.h"

namespace corvenza::emulator::testing {

class RealtimeCaller {
 public:
  RealtimeCaller(Emulator& emulator, std::string identityId)
      : identityId_(std::move(identityId)), region_(emulator.context().options.region) {
    auto& context = emulator.context();
    const auto now = context.clock.now();
    const auto issued = context.credentials.issue(identityId_, now, now + std::chrono::hours(1));
    credentials_ = {issued.accessKeyId, issued.secretKey, issued.sessionToken, std::nullopt};
    endpoint_ = *appsync::realtimeEndpoint("http://127.0.0.1:" + std::to_string(emulator.port()) +
                                           "/graphql");
  }

  const std::string& identityId() const { return identityId_; }

  /// The path and signed query to open the socket with.
  std::string target() const {
    const auto blob = appsync::connectAuthorization(endpoint_, credentials_, region_,
                                                    std::chrono::system_clock::now());
    return endpoint_.path + appsync::handshakeQuery(*blob);
  }

  /// A signed "start" of @p data for subscription @p id.
  std::string start(const std::string& id, const std::string& data) const {
    const auto authorization = appsync::startAuthorization(endpoint_, data, credentials_, region_,
                                                           std::chrono::system_clock::now());
    return nlohmann::json{
        {"type", "start"},
        {"id", id},
        {"payload", {{"data", data}, {"extensions", {{"authorization", *authorization}}}}}}
        .dump();
  }

  /// The request data of the caller's own subscription to @p field.
  std::string subscriptionData(const std::string& field) const {
    return nlohmann::json{{"query", "subscription S($u: ID!) { " + field + "(userId: $u) { id } }"},
                          {"variables", {{"u", identityId_}}}}
        .dump();
  }

 private:
  std::string identityId_;
  std::string region_;
  sigv4::Credentials credentials_;
  appsync::RealtimeEndpoint endpoint_;
};

}  // namespace corvenza::emulator::testing
