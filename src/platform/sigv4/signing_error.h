#pragma once
// Errors of the signer. Their texts never quote credentials, tokens or
// signatures.

#include <corvenza/error.h>

#include <string>

namespace corvenza::sigv4 {

inline constexpr const char* kSigningErrorDomain = "CorvenzaSigningError";

enum class SigningErrorCode {
  invalidUrl = 1,
  missingCredentials = 2,
  unreadableBody = 3,
  invalidExpiry = 4,
};

inline Error signingError(SigningErrorCode code, std::string description) {
  return Error(kSigningErrorDomain, static_cast<int>(code), std::nullopt, std::move(description));
}

}  // namespace corvenza::sigv4
