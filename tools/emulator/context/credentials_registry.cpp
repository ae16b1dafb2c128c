#include "context/credentials_registry.h"

#include <iterator>

#include "base/random.h"
#include "platform/encoding/base64.h"
#include "platform/sigv4/crypto.h"

namespace corvenza::emulator {
namespace {

constexpr std::string_view kUpperAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::string_view kSecretAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string makeSessionToken() {
  // Long, base64 with padding, and surely holding '/' and '+': clients must
  // carry such tokens through headers and query strings unharmed.
  auto token = encoding::base64Encode(randomBytes(358));
  token[20] = '/';
  token[41] = '+';
  return token;
}

Error credentialsError(int code, std::string description) {
  return Error(kCredentialsErrorDomain, code, std::nullopt, std::move(description));
}

}  // namespace

IssuedCredentials CredentialsRegistry::issue(const std::string& identityId, TimePoint now,
                                             TimePoint expiration) {
  IssuedCredentials credentials{"ASIA" + randomString(16, kUpperAlnum),
                                randomString(40, kSecretAlphabet), makeSessionToken(), identityId,
                                expiration};
  std::lock_guard lock(mutex_);
  std::erase_if(byAccessKeyId_, [now](const auto& entry) { return entry.second.expiration < now; });
  byAccessKeyId_[credentials.accessKeyId] = credentials;
  return credentials;
}

std::optional<IssuedCredentials> CredentialsRegistry::find(const std::string& accessKeyId) const {
  std::lock_guard lock(mutex_);
  const auto it = byAccessKeyId_.find(accessKeyId);
  if (it == byAccessKeyId_.end()) return std::nullopt;
  return it->second;
}

std::optional<sigv4::Credentials> CredentialsRegistry::signingCredentials(
    std::string_view accessKeyId) const {
  const auto issued = find(std::string(accessKeyId));
  if (!issued) return std::nullopt;
  return sigv4::Credentials{issued->accessKeyId, issued->secretKey, issued->sessionToken,
                            issued->expiration};
}

detail::Result<IssuedCredentials> CredentialsRegistry::validate(const std::string& accessKeyId,
                                                                const std::string& sessionToken,
                                                                TimePoint now) const {
  auto credentials = find(accessKeyId);
  if (!credentials) {
    return credentialsError(kCredentialsUnknownKey, "the access key id is not known");
  }
  if (!sigv4::constantTimeEquals(credentials->sessionToken, sessionToken)) {
    return credentialsError(kCredentialsBadSessionToken,
                            "the session token does not belong to the access key id");
  }
  if (credentials->expiration <= now) {
    return credentialsError(kCredentialsExpired, "the credentials have expired");
  }
  return std::move(*credentials);
}

std::size_t CredentialsRegistry::size() const {
  std::lock_guard lock(mutex_);
  return byAccessKeyId_.size();
}

}  // namespace corvenza::emulator
