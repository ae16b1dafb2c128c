#pragma once
// The identity pool service (JSON 1.1 protocol, POST with X-Amz-Target):
// GetCredentialsForIdentity trades a token of the authentication service for
// temporary credentials; GetId tells the identity a token belongs to.

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <variant>

#include "base/service.h"
#include "context/emulator_context.h"

namespace corvenza::emulator {

class IdentityService : public Service {
 public:
  /// The login provider name under which clients hand over the token.
  static constexpr const char* kLoginProvider = "cognito-identity.amazonaws.com";

  explicit IdentityService(EmulatorContext& context) : context_(context) {}
  std::string_view name() const override { return "identity"; }
  Response handle(const Request& request) override;

 private:
  Response getCredentialsForIdentity(const nlohmann::json& body);
  Response getId(const nlohmann::json& body);
  /// The identity id of the token in @p body's Logins, or an error response.
  std::variant<std::string, Response> verifyLogins(const nlohmann::json& body);

  EmulatorContext& context_;
};

/// The service's error shape: status 400, {"__type", "message"} and the
/// x-amzn-ErrorType header.
Response identityError(std::string_view type, std::string_view message, int status = 400);

}  // namespace corvenza::emulator
