#include "queue/failure_kind.h"

#include <corvenza/creation_queue.h>
#include <gtest/gtest.h>

#include "platform/appsync/client_error.h"
#include "platform/appsync/graphql_error.h"
#include "platform/http/http_transport.h"
#include "platform/identity/identity_service_messages.h"
#include "platform/storage/storage_error.h"

namespace corvenza::queue {
namespace {

// Retrying a refusal would repeat it for ever; not retrying a hiccup would
// fail a creation that a second try completes.
TEST(FailureKind, PassingTroubleIsRetriedAndRefusalsAreNot) {
  struct Case {
    Error error;
    bool transient;
  };
  const Case cases[] = {
      {Error(http::kTransportErrorDomain, 7), true},
      {CorvenzaError(CorvenzaErrorReason::appSyncClientTimeOut), true},
      {CorvenzaError(CorvenzaErrorReason::invalidResponse), true},
      {CorvenzaError(CorvenzaErrorReason::unexpectedError), false},
      {CorvenzaError(CorvenzaErrorReason::notSignedIn), false},
      {appsync::makeGraphQLClientError(503, "busy"), true},
      {appsync::makeGraphQLClientError(429, "slow down"), true},
      {appsync::makeGraphQLClientError(400, "bad"), false},
      {appsync::makeGraphQLClientError(403, "forbidden"), false},
      {appsync::makeGraphQLClientError(appsync::kGraphQLClientResponseNotJSON, "garbled"), true},
      {appsync::makeGraphQLClientError(appsync::kGraphQLClientInvalidEndpoint, "bad url"), false},
      {Error(storage::kStorageErrorDomain, 500), true},
      {Error(storage::kStorageErrorDomain, 503), true},
      {Error(storage::kStorageErrorDomain, 403), false},
      {Error(storage::kStorageErrorDomain, 400), false},
      {Error(storage::kStorageErrorDomain, storage::kStorageUnconfirmedUpload), true},
      {Error(storage::kStorageErrorDomain, storage::kStorageNoCredentials), true},
      {Error(storage::kStorageErrorDomain, storage::kStorageFileUnreadable), false},
      {Error(appsync::kGraphQLErrorDomain, 0, UserInfo{{"errorType", "Throttling"}}), true},
      {Error(appsync::kGraphQLErrorDomain, 0, UserInfo{{"errorType", "ValidationError"}}), false},
      {Error(appsync::kGraphQLErrorDomain, 0), false},
      {Error(kCorvenzaTokenFetchErrorDomain, 1), true},
      {Error("SomethingElse", 1, UserInfo{{error_info::kHttpStatus, "502"}}), true},
      {Error("SomethingElse", 1, UserInfo{{error_info::kHttpStatus, "404"}}), false},
      {Error("SomethingElse", 1, UserInfo{{error_info::kHttpStatus, "not a number"}}), false},
      {Error("SomethingElse", 1), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isTransient(c.error), c.transient)
        << c.error.domain() << " " << c.error.code() << " " << c.error.localizedDescription();
  }
}

// Sign-in and set-up trouble is the user's to mend, not the creation's fault:
// a run keeps the entries instead of failing them.
TEST(FailureKind, LocalProblemsAreToldApartFromRefusedCreations) {
  const std::pair<Error, bool> cases[] = {
      {CorvenzaError(CorvenzaErrorReason::unexpectedError,
                     UserInfo{{error_info::kService, "authentication"}}),
       true},
      {Error(identity::kIdentityServiceErrorDomain, 400, std::nullopt, "NotAuthorizedException"),
       true},
      {appsync::makeGraphQLClientError(403, "forbidden"), true},
      {Error(storage::kStorageErrorDomain, storage::kStorageInvalidLocation), true},
      {Error(kCreationQueueErrorDomain, static_cast<int>(CreationQueueErrorCode::storage)), true},
      {CorvenzaError(CorvenzaErrorReason::notSignedIn), true},
      {appsync::makeGraphQLClientError(400, "bad"), false},
      {Error(storage::kStorageErrorDomain, 403, std::nullopt, "AccessDenied: not yours"), false},
      {Error(appsync::kGraphQLErrorDomain, 0, UserInfo{{"errorType", "ValidationError"}}), false},
  };
  for (const auto& [error, local] : cases) {
    EXPECT_EQ(isLocalProblem(error), local) << error.domain() << " " << error.code();
  }
  // An answer of the authentication service that says "busy" is still retried.
  EXPECT_TRUE(isTransient(CorvenzaError(
      CorvenzaErrorReason::unexpectedError,
      UserInfo{{error_info::kService, "authentication"}, {error_info::kHttpStatus, "503"}})));
}

// A service that no longer knows the credentials in use (they expired, or it
// restarted) is asked again with fresh ones; a plain refusal is not.
TEST(FailureKind, RefusedProofIsToldApartFromARefusedRequest) {
  EXPECT_EQ(staleProof(appsync::makeGraphQLClientError(401, "The security token is invalid")),
            StaleProof::credentials);
  EXPECT_EQ(staleProof(Error(storage::kStorageErrorDomain, 403, std::nullopt,
                             "InvalidAccessKeyId: The AWS Access Key Id you provided does not "
                             "exist in our records.")),
            StaleProof::credentials);
  EXPECT_EQ(staleProof(Error(identity::kIdentityServiceErrorDomain, 400, std::nullopt,
                             "NotAuthorizedException: Invalid login token")),
            StaleProof::token);
  EXPECT_EQ(staleProof(Error(storage::kStorageErrorDomain, 403, std::nullopt,
                             "AccessDenied: not under your prefix")),
            StaleProof::none);
  EXPECT_EQ(staleProof(appsync::makeGraphQLClientError(400, "bad")), StaleProof::none);
  EXPECT_EQ(staleProof(Error(http::kTransportErrorDomain, 7)), StaleProof::none);
}

}  // namespace
}  // namespace corvenza::queue
