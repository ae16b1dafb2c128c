#include "queue/failure_kind.h"

#include <corvenza/creation_queue.h>

#include <string>

#include "platform/appsync/client_error.h"
#include "platform/appsync/graphql_error.h"
#include "platform/http/http_transport.h"
#include "platform/identity/identity_service_messages.h"
#include "platform/storage/storage_error.h"

namespace corvenza::queue {

namespace {

bool isTransientStatus(int status) { return status == 429 || (status >= 500 && status <= 599); }

std::optional<int> statusIn(const Error& error) {
  auto text = error.userInfoValue(error_info::kHttpStatus);
  if (!text) return std::nullopt;
  try {
    return std::stoi(*text);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace

bool isTransient(const Error& error) {
  const auto& domain = error.domain();
  // A busy or briefly broken service, whichever error carries its answer.
  if (auto status = statusIn(error); status && isTransientStatus(*status)) return true;
  if (domain == http::kTransportErrorDomain) return true;
  if (domain == CorvenzaError::kDomain) {
    // Our own step guard, and answers that could not be read.
    return error.code() == CorvenzaError(CorvenzaErrorReason::appSyncClientTimeOut).code() ||
           error.code() == CorvenzaError(CorvenzaErrorReason::invalidResponse).code();
  }
  if (domain == kCorvenzaTokenFetchErrorDomain) return true;
  if (domain == appsync::kGraphQLClientErrorDomain) {
    if (error.code() >= 100) return isTransientStatus(error.code());
    // An unreadable body is a broken answer, not a verdict on the request;
    // an upload or signing failure without a cause of its own is the same.
    return error.code() != appsync::kGraphQLClientInvalidEndpoint;
  }
  if (domain == storage::kStorageErrorDomain) {
    // No credentials yet, a presign that waited too long, an upload the
    // service did not confirm: worth another try. A file that cannot be read
    // or a bad location is not.
    if (error.code() >= 100) return isTransientStatus(error.code());
    return error.code() == storage::kStorageNoCredentials ||
           error.code() == storage::kStoragePresignTimedOut ||
           error.code() == storage::kStorageUnconfirmedUpload;
  }
  if (domain == appsync::kGraphQLErrorDomain) {
    const auto type = error.userInfoValue("errorType").value_or("");
    return type.find("Throttl") != std::string::npos || type.find("Timeout") != std::string::npos;
  }
  if (domain == identity::kIdentityServiceErrorDomain) {
    const auto type = error.localizedDescription();
    if (type.find("Throttl") != std::string::npos || type.find("TooMany") != std::string::npos) {
      return true;
    }
  }
  if (auto status = statusIn(error)) return isTransientStatus(*status);
  return false;
}

bool isLocalProblem(const Error& error) {
  const auto& domain = error.domain();
  if (error.userInfoValue(error_info::kService) == "authentication") return true;
  if (domain == identity::kIdentityServiceErrorDomain) return true;
  if (domain == CorvenzaError::kDomain) {
    return error.code() == CorvenzaError(CorvenzaErrorReason::notSignedIn).code();
  }
  if (domain == appsync::kGraphQLClientErrorDomain) {
    return error.code() == 401 || error.code() == 403 ||
           error.code() == appsync::kGraphQLClientInvalidEndpoint;
  }
  if (domain == storage::kStorageErrorDomain) {
    return error.code() == storage::kStorageInvalidLocation ||
           staleProof(error) == StaleProof::credentials;
  }
  return domain == kCreationQueueErrorDomain &&
         error.code() == static_cast<int>(CreationQueueErrorCode::storage);
}

StaleProof staleProof(const Error& error) {
  const auto& text = error.localizedDescription();
  const auto says = [&text](const char* word) { return text.find(word) != std::string::npos; };
  if (error.domain() == appsync::kGraphQLClientErrorDomain &&
      (error.code() == 401 || error.code() == 403)) {
    return StaleProof::credentials;
  }
  if (error.domain() == storage::kStorageErrorDomain && error.code() == 403 &&
      (says("InvalidAccessKeyId") || says("ExpiredToken") || says("InvalidToken") ||
       says("TokenRefreshRequired"))) {
    return StaleProof::credentials;
  }
  // A token the identity service refuses, or one naming an identity it no
  // longer knows (its data was reset): a fresh token may bring a known one.
  if (error.domain() == identity::kIdentityServiceErrorDomain &&
      (says("NotAuthorized") || says("ResourceNotFound"))) {
    return StaleProof::token;
  }
  return StaleProof::none;
}

}  // namespace corvenza::queue
