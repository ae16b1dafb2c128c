#pragma once
// The identity bridge: answers the credentials provider's request for an
// identity token from the application's token provider.

#include <corvenza/default_token_provider.h>
#include <corvenza/region.h>
#include <corvenza/token.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "auth/token_cache.h"
#include "platform/dispatch/executor.h"
#include "platform/identity/credentials_provider_helper.h"

namespace corvenza::auth {

class DeveloperAuthenticatedIdentityProvider final : public identity::CredentialsProviderHelper {
 public:
  struct Options {
    /// Where a DefaultTokenProvider is waited for; the client hands its own.
    /// dispatch::defaultExecutor() when null, for a bridge used on its own.
    std::shared_ptr<dispatch::Executor> executor;
    /// How long a DefaultTokenProvider may take to answer.
    std::chrono::milliseconds waitLimit{60'000};
  };

  /// Starts with no token provider. Make it with std::make_shared.
  DeveloperAuthenticatedIdentityProvider(AWSRegionType region, std::string identityPoolId,
                                         bool useEnhancedFlow, Options options);
  DeveloperAuthenticatedIdentityProvider(AWSRegionType region, std::string identityPoolId,
                                         bool useEnhancedFlow)
      : DeveloperAuthenticatedIdentityProvider(region, std::move(identityPoolId), useEnhancedFlow,
                                               Options{}) {}

  std::shared_ptr<CorvenzaTokenProvider> tokenProvider() const;
  void setTokenProvider(std::shared_ptr<CorvenzaTokenProvider> provider);
  /// The provider's store of its token, when it keeps one.
  std::shared_ptr<TokenCache> tokenCache() const;

  /// The JSON Web Token of the provider's token; identityId() is set to the
  /// token's identity id before the task finishes.
  /// A DefaultTokenProvider (or derived) is asked to ensureToken on the
  /// executor, waiting at most the wait limit; the task fails with the
  /// provider's error, with CorvenzaError unexpectedError when it gave none,
  /// or with CorvenzaError unexpectedError whose "detail" says it did not
  /// answer in time. Any other provider's token() is read on the calling
  /// thread and the task returned already finished; without a token (or a
  /// provider) it fails with makeTokenFetchError(). Thread-safe.
  dispatch::Task<std::string> token() override;

  /// The keychain account of a DefaultTokenProvider (or derived), so that a
  /// change of user drops the credentials of the previous one; empty for
  /// other providers.
  std::string accountKey() const override;
  /// The store the token provider keeps its token in, when it keeps one.
  std::shared_ptr<device::KeyStore> credentialStore() const override;

 private:
  dispatch::Task<std::string> tokenFromCache(std::shared_ptr<TokenCache> provider);

  const Options options_;
  mutable std::mutex mutex_;
  std::shared_ptr<CorvenzaTokenProvider> tokenProvider_;
  std::shared_ptr<TokenCache> tokenCache_;
};

}  // namespace corvenza::auth
