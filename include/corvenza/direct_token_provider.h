#pragma once
/// @file
/// DirectTokenProvider: a DefaultTokenProvider that fetches its tokens from
/// the authentication service with an API key.

#include <corvenza/default_token_provider.h>

#include <memory>
#include <optional>
#include <string>

namespace corvenza {

/// Refreshes by POSTing to apiUrl + "/token" with the header "x-api-key" and
/// the body {"user_id": userId or null, "token_duration": tokenDuration}; the
/// answer's content.token.{jwt_token, identity_id} becomes the new token.
/// Everything else (keychain, expiry, ensureToken) is DefaultTokenProvider's.
///
/// Tokens are kept per service, API key and user: the keychain account is
/// derived from a hash of apiUrl, apiKey and userId, so a token fetched for
/// one user, application or service is never sent on behalf of another, and setUserId() to another
/// user takes effect at the next ensureToken(). Without a user id the service issues a new
/// anonymous identity at every refresh; give a stable user id to keep one.
///
/// Refresh errors handed to the completion: CorvenzaError invalidResponse
/// (1999) when no body arrived or it is not JSON; CorvenzaError
/// unexpectedError (2000) when the JSON has another shape or apiUrl + "/token"
/// is not an http(s) URL. The completion runs on the HTTP transport's thread.
/// Hold it in a std::shared_ptr. Thread-safe.
class DirectTokenProvider : public DefaultTokenProvider {
 public:
  /// @param apiUrl the authentication service's base URL; "/token" is
  ///        appended exactly as is (no separator added or removed)
  /// @param apiKey sent as "x-api-key"; never logged
  DirectTokenProvider(std::string apiUrl, std::string apiKey);
  /// The same on the given collaborators (used by the library's tests).
  DirectTokenProvider(std::string apiUrl, std::string apiKey,
                      std::shared_ptr<const Environment> environment);
  ~DirectTokenProvider() override;

  /// Requested lifetime of a token in seconds; 900 by default. Read by each
  /// refresh when it builds its request.
  int tokenDuration() const;
  void setTokenDuration(int seconds);

  /// The user on whose behalf tokens are requested; none by default (sent as null).
  std::optional<std::string> userId() const;
  /// Switches to @p userId's token (stored, or fetched at the next ensureToken()).
  void setUserId(std::optional<std::string> userId);

  /// A user id of this OS user on this machine for applications without
  /// users of their own: "anonymous-" and 32 random hex digits, made once and
  /// kept in the private file "installation-user-id" beside the token store
  /// ($CORVENZA_KEYCHAIN_DIR, else $XDG_DATA_HOME/corvenza, else
  /// ~/.local/share/corvenza). The same in every call and process, so that
  /// refreshes keep one identity. Nothing, with @p error set when given, when
  /// it can be neither read nor stored. Thread-safe.
  static std::optional<std::string> installationUserId(Error* error = nullptr);

 private:
  struct Settings;
  std::shared_ptr<Settings> settings_;
};

}  // namespace corvenza
