#include <corvenza/error.h>

#include <utility>

namespace corvenza {

namespace {

std::string defaultDescription(const std::string& domain, int code) {
  // The same wording the platform uses for an error without a description.
  return "The operation couldn't be completed. (" + domain + " error " + std::to_string(code) +
         ".)";
}

// Distinct causes share one domain, so each says its own in words; the code
// stays in the text for logs that show only the description.
std::string reasonDescription(CorvenzaErrorReason reason) {
  const char* words = "The library failed unexpectedly";
  switch (reason) {
    case CorvenzaErrorReason::unexpectedError:
      break;
    case CorvenzaErrorReason::invalidResponse:
      words = "The service's answer could not be read";
      break;
    case CorvenzaErrorReason::notInitialized:
      words = "The library has not been initialized";
      break;
    case CorvenzaErrorReason::configNotFound:
      words = "corvenza-config.json is missing, unreadable or malformed";
      break;
    case CorvenzaErrorReason::notSignedIn:
      words = "No user is signed in";
      break;
    case CorvenzaErrorReason::appSyncClientTimeOut:
      words = "The service did not answer in time";
      break;
  }
  return std::string(words) + " (" + CorvenzaError::kDomain + " " +
         std::to_string(CorvenzaError::codeFor(reason)) + ")";
}

}  // namespace

Error::Error(std::string domain, int code, std::optional<UserInfo> userInfo,
             std::string description)
    : domain_(std::move(domain)),
      code_(code),
      userInfo_(std::move(userInfo)),
      description_(std::move(description)) {
  if (domain_.empty()) domain_ = "CorvenzaUnknownDomain";
  if (description_.empty()) description_ = defaultDescription(domain_, code_);
}

std::optional<std::string> Error::userInfoValue(const std::string& key) const {
  if (!userInfo_) return std::nullopt;
  const auto it = userInfo_->find(key);
  if (it == userInfo_->end()) return std::nullopt;
  return it->second;
}

Error Error::withUserInfo(const UserInfo& extra) const {
  Error copy = *this;
  if (!copy.userInfo_) copy.userInfo_ = UserInfo{};
  for (const auto& [key, value] : extra) (*copy.userInfo_)[key] = value;
  return copy;
}

int CorvenzaError::codeFor(CorvenzaErrorReason reason) noexcept {
  return 2000 - static_cast<int>(reason);
}

CorvenzaError::CorvenzaError(CorvenzaErrorReason reason, std::optional<UserInfo> userInfo)
    : Error(kDomain, codeFor(reason), std::move(userInfo), reasonDescription(reason)) {}

Error makeInvalidResponseError() { return Error(kCorvenzaUnknownErrorDomain, 1999, UserInfo{}); }

Error makeTokenFetchError() {
  return Error(kCorvenzaTokenFetchErrorDomain, 111,
               UserInfo{{"detail", "Cannot get both token and identityId"}});
}

}  // namespace corvenza
