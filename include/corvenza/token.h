#pragma once
/// @file
/// The user's token and the contract of a token provider.

#include <optional>
#include <string>
#include <string_view>

namespace corvenza {

/// A JSON Web Token issued for the user's cloud identity, and that identity's
/// identifier in the identity pool. No field is validated: an empty or
/// malformed token is a valid record, judged only where it is used.
struct CorvenzaToken {
  /// The JSON Web Token in its compact text form. JSON member "jwt_token".
  std::string jwtToken;
  /// The user's identifier in the identity pool. JSON member "identity_id".
  std::string identityId;

  CorvenzaToken() = default;
  CorvenzaToken(std::string jwtToken, std::string identityId)
      : jwtToken(std::move(jwtToken)), identityId(std::move(identityId)) {}

  /// The JSON form: an object with "jwt_token" and "identity_id". Bytes that
  /// are not UTF-8 are written as U+FFFD; never throws.
  std::string toJson() const;

  /// Decodes the JSON form. Both members are required and must be strings;
  /// other members are ignored. On failure returns nothing and, when
  /// @p whyNot is given, stores a reason there (never the token itself).
  static std::optional<CorvenzaToken> fromJson(std::string_view json,
                                               std::string* whyNot = nullptr);

  friend bool operator==(const CorvenzaToken&, const CorvenzaToken&) = default;
};

/// The application's source of tokens.
///
/// The library keeps the provider given to CorvenzaEnterprise::initialize and
/// reads `token()` from the identity bridge's background thread and from the
/// thread that subscribes to changes, so an implementation must be
/// thread-safe. Any class may implement it; hold it in a std::shared_ptr.
class CorvenzaTokenProvider {
 public:
  virtual ~CorvenzaTokenProvider() = default;

  /// The current token, or nothing.
  virtual std::optional<CorvenzaToken> token() const = 0;
  /// Replaces the current token.
  virtual void setToken(std::optional<CorvenzaToken> token) = 0;
};

}  // namespace corvenza
