#include <corvenza/error.h>

#include <utility>

namespace corvenza {

namespace {

std::string defaultDescription(const std::string& domain, int code) {
  // The same wording the platform uses for an error without a description.
  return "The operation couldn't be completed. (" + domain + " error " + std::to_string(code) +
         ".)";
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

int CorvenzaError::codeFor(CorvenzaErrorReason reason) noexcept {
  return 2000 - static_cast<int>(reason);
}

CorvenzaError::CorvenzaError(CorvenzaErrorReason reason, std::optional<UserInfo> userInfo)
    : Error(kDomain, codeFor(reason), std::move(userInfo)) {}

Error makeInvalidResponseError() {
  return Error(kCorvenzaUnknownErrorDomain, 1999, UserInfo{});
}

Error makeTokenFetchError() {
  return Error(kCorvenzaTokenFetchErrorDomain, 111,
               UserInfo{{"detail", "Cannot get both token and identityId"}});
}

}  // namespace corvenza
