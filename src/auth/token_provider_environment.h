#pragma once
// The collaborators of the library's token providers, replaceable by tests.

#include <corvenza/default_token_provider.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/device/key_store.h"
#include "platform/http/http_transport.h"

namespace corvenza {

struct DefaultTokenProvider::Environment {
  /// Where the token is kept; the device keychain under "CorvenzaEnterprise" by default.
  std::shared_ptr<device::KeyStore> keyStore;
  /// Wall-clock time against which expiry is judged.
  std::function<std::chrono::system_clock::time_point()> now;
  /// Where DirectTokenProvider sends its requests; nullptr means
  /// http::sharedTransport(), looked up at the first refresh.
  std::shared_ptr<http::HttpTransport> transport;

  /// The real collaborators: the device keychain and the system clock.
  static std::shared_ptr<const Environment> system();
};

namespace auth {

/// The keychain key prefix shared by every token provider of the library.
inline constexpr const char* kKeychainPrefix = "CorvenzaEnterprise";
inline constexpr const char* kJwtTokenEntry = "JwtToken";
inline constexpr const char* kIdentityIdEntry = "IdentityId";
/// Validity a token must still have to be used as it is.
inline constexpr std::chrono::seconds kExpiryMargin{720};
/// How long later callers wait for a refresh in flight before starting their own.
inline constexpr std::chrono::seconds kRefreshJoinLimit{60};

/// The keychain entry names of one account's token.
struct KeychainEntries {
  std::string jwtToken;
  std::string identityId;
};
/// "JwtToken" and "IdentityId" for the empty account; "JwtToken.<account>"
/// and "IdentityId.<account>" for any other.
KeychainEntries keychainEntriesFor(const std::string& account);

}  // namespace auth

}  // namespace corvenza
