#pragma once
// The authentication service: POST <prefix>/token trades the API key and a
// user id for a signed token and the user's identity id.

#include "base/service.h"
#include "context/emulator_context.h"

namespace corvenza::emulator {

class AuthService : public Service {
 public:
  /// Longest token lifetime a caller may ask for, in seconds (one day).
  static constexpr std::int64_t kMaxTokenDuration = 86'400;
  /// Lifetime when the request names none, in seconds.
  static constexpr std::int64_t kDefaultTokenDuration = 900;

  explicit AuthService(EmulatorContext& context) : context_(context) {}
  std::string_view name() const override { return "auth"; }
  Response handle(const Request& request) override;

 private:
  EmulatorContext& context_;
};

}  // namespace corvenza::emulator
