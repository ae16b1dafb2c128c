#pragma once
// Cloud credentials as the signer uses them.

#include <chrono>
#include <optional>
#include <string>

namespace corvenza::sigv4 {

struct Credentials {
  std::string accessKeyId;
  std::string secretAccessKey;
  /// Present for temporary credentials (every federated identity's).
  std::string sessionToken;
  /// When temporary credentials stop working.
  std::optional<std::chrono::system_clock::time_point> expiration;
};

}  // namespace corvenza::sigv4
