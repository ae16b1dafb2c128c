#pragma once
// Temporary credentials handed out by the identity service, kept so that the
// services that verify signed requests can find the secret behind an access
// key id and tell whose identity made the request.

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/result.h"
#include "platform/sigv4/credentials.h"

namespace corvenza::emulator {

struct IssuedCredentials {
  std::string accessKeyId;
  std::string secretKey;
  std::string sessionToken;
  /// The identity the credentials act for.
  std::string identityId;
  std::chrono::system_clock::time_point expiration;
};

/// Domain of credential checks; services map the codes onto their own error shapes.
inline constexpr const char* kCredentialsErrorDomain = "EmulatorCredentialsError";

enum CredentialsErrorCode : int {
  kCredentialsUnknownKey = 1,
  kCredentialsBadSessionToken = 2,
  kCredentialsExpired = 3,
};

/// Thread-safe: every member may be called from any thread.
class CredentialsRegistry {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  /// Makes fresh random credentials for @p identityId valid until @p expiration
  /// and records them. Credentials that expired before @p now are dropped.
  IssuedCredentials issue(const std::string& identityId, TimePoint now, TimePoint expiration);

  /// The credentials of @p accessKeyId, expired or not.
  std::optional<IssuedCredentials> find(const std::string& accessKeyId) const;
  /// find() as the signature verifier looks keys up.
  std::optional<sigv4::Credentials> signingCredentials(std::string_view accessKeyId) const;

  /// The credentials of @p accessKeyId when they exist, carry @p sessionToken
  /// and have not expired at @p now.
  detail::Result<IssuedCredentials> validate(const std::string& accessKeyId,
                                             const std::string& sessionToken, TimePoint now) const;

  std::size_t size() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, IssuedCredentials> byAccessKeyId_;
};

}  // namespace corvenza::emulator
