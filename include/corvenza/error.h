#pragma once
/// @file
/// The one error value shared by the library and the application.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvenza {

/// User information of an error: string keys to string values.
using UserInfo = std::map<std::string, std::string>;

/// An error: a domain, an integer code, optional user information and a
/// human-readable description that is never empty.
///
/// Errors of outside components (transport, GraphQL, storage, identity) travel
/// as this same type, with their own domain, code and description, so that the
/// library can hand them on unchanged. Errors are plain values: copy them
/// freely; they are safe to read from any thread.
class Error {
 public:
  /// Makes an error. When @p description is empty, a description is made from
  /// the domain and the code.
  Error(std::string domain, int code, std::optional<UserInfo> userInfo = std::nullopt,
        std::string description = {});

  const std::string& domain() const noexcept { return domain_; }
  int code() const noexcept { return code_; }
  /// The user information, absent when the error was made without one.
  const std::optional<UserInfo>& userInfo() const noexcept { return userInfo_; }
  /// A description for people; never empty and never holding a secret.
  const std::string& localizedDescription() const noexcept { return description_; }

  /// The value of user-information entry @p key, or nothing.
  std::optional<std::string> userInfoValue(const std::string& key) const;
  /// A copy with @p extra added to the user information (entries of the same
  /// key replaced); domain, code and description are unchanged.
  Error withUserInfo(const UserInfo& extra) const;

  friend bool operator==(const Error&, const Error&) = default;

 private:
  std::string domain_;
  int code_;
  std::optional<UserInfo> userInfo_;
  std::string description_;
};

/// Keys of the user information the library adds to errors, so that a
/// program can tell what happened beyond the domain and code. Values are text;
/// none ever holds a secret.
namespace error_info {
/// Why, in words.
inline constexpr const char* kDetail = "detail";
/// The HTTP status of the answer that failed, e.g. "403".
inline constexpr const char* kHttpStatus = "httpStatus";
/// The service's own message (secrets removed).
inline constexpr const char* kServiceMessage = "serviceMessage";
/// The service that failed: "authentication", "identity", "graphql" or "storage".
inline constexpr const char* kService = "service";
/// The failure underneath (a transport error, say): its description, domain and code.
inline constexpr const char* kUnderlyingError = "underlyingError";
inline constexpr const char* kUnderlyingDomain = "underlyingDomain";
inline constexpr const char* kUnderlyingCode = "underlyingCode";
/// The estimation request concerned: one a failed creation left in
/// `requested` (retry or delete it), or one that was not found.
inline constexpr const char* kRequestId = "requestId";
/// The step of a creation that failed: "create", "front photo", "side photo"
/// or "read back".
inline constexpr const char* kStep = "step";
/// "notFound" when the service holds no such request for this user.
inline constexpr const char* kReason = "reason";
}  // namespace error_info

/// The library's own failures. The code of a reason is 2000 minus its position.
enum class CorvenzaErrorReason {
  unexpectedError,       ///< 2000
  invalidResponse,       ///< 1999
  notInitialized,        ///< 1998
  configNotFound,        ///< 1997
  notSignedIn,           ///< 1996
  appSyncClientTimeOut,  ///< 1995
};

/// An error of domain "CorvenzaError", made from a reason only.
///
/// It adds no state to Error: the code tells the reason, and the description
/// says it in words followed by domain and code, e.g. "No user is signed in
/// (CorvenzaError 1996)". It may be stored in and copied as an Error.
class CorvenzaError : public Error {
 public:
  static constexpr const char* kDomain = "CorvenzaError";

  explicit CorvenzaError(CorvenzaErrorReason reason,
                         std::optional<UserInfo> userInfo = std::nullopt);

  /// The code of @p reason: 2000 minus its position.
  static int codeFor(CorvenzaErrorReason reason) noexcept;
};

/// Domain of the invalid-response error of update and delete (code 1999, empty map).
inline constexpr const char* kCorvenzaUnknownErrorDomain = "CorvenzaUnknownError";
/// Domain of the identity bridge's error when no token can be had (code 111).
inline constexpr const char* kCorvenzaTokenFetchErrorDomain = "CorvenzaTokenFetchError";

/// The "CorvenzaUnknownError" error of code 1999 with an empty user-information map.
Error makeInvalidResponseError();
/// The "CorvenzaTokenFetchError" error of code 111 with its "detail" entry.
Error makeTokenFetchError();

/// An ordered list of errors, as handed to callbacks.
using Errors = std::vector<Error>;

}  // namespace corvenza
