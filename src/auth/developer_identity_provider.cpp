#include "auth/developer_identity_provider.h"

#include <corvenza/default_token_provider.h>

#include <condition_variable>
#include <optional>
#include <utility>

namespace corvenza::auth {

namespace {

// Meeting point of the waiting executor thread and the provider's callback,
// which may arrive after the wait gave up.
struct Answer {
  std::mutex mutex;
  std::condition_variable arrived;
  bool done = false;
  std::optional<CorvenzaToken> token;
  std::optional<Error> error;
};

}  // namespace

DeveloperAuthenticatedIdentityProvider::DeveloperAuthenticatedIdentityProvider(
    AWSRegionType region, std::string identityPoolId, bool useEnhancedFlow, Options options)
    : CredentialsProviderHelper(region, std::move(identityPoolId), useEnhancedFlow),
      options_(std::move(options)) {}

std::shared_ptr<CorvenzaTokenProvider> DeveloperAuthenticatedIdentityProvider::tokenProvider()
    const {
  std::lock_guard lock(mutex_);
  return tokenProvider_;
}

void DeveloperAuthenticatedIdentityProvider::setTokenProvider(
    std::shared_ptr<CorvenzaTokenProvider> provider) {
  auto cache = TokenCache::of(provider);
  std::lock_guard lock(mutex_);
  tokenProvider_ = std::move(provider);
  tokenCache_ = std::move(cache);
}

std::shared_ptr<TokenCache> DeveloperAuthenticatedIdentityProvider::tokenCache() const {
  std::lock_guard lock(mutex_);
  return tokenCache_;
}

std::string DeveloperAuthenticatedIdentityProvider::accountKey() const {
  auto cache = tokenCache();
  return cache ? cache->account() : std::string();
}

std::shared_ptr<device::KeyStore> DeveloperAuthenticatedIdentityProvider::credentialStore() const {
  auto cache = tokenCache();
  return cache ? cache->keyStore() : nullptr;
}

dispatch::Task<std::string> DeveloperAuthenticatedIdentityProvider::token() {
  if (auto cache = tokenCache()) return tokenFromCache(std::move(cache));
  auto provider = tokenProvider();
  std::optional<CorvenzaToken> token = provider ? provider->token() : std::nullopt;
  if (!token) return dispatch::Task<std::string>::failed(makeTokenFetchError());
  setIdentityId(token->identityId);
  return dispatch::Task<std::string>::completed(token->jwtToken);
}

dispatch::Task<std::string> DeveloperAuthenticatedIdentityProvider::tokenFromCache(
    std::shared_ptr<TokenCache> provider) {
  auto executor = options_.executor ? options_.executor : dispatch::defaultExecutor();
  std::weak_ptr<CredentialsProviderHelper> weak = weak_from_this();
  auto limit = options_.waitLimit;
  return dispatch::Task<std::string>::run(
      *executor, [weak, provider = std::move(provider), limit]() -> detail::Result<std::string> {
        auto answer = std::make_shared<Answer>();
        provider->ensureToken(
            [answer](std::optional<CorvenzaToken> token, std::optional<Error> error) {
              {
                std::lock_guard lock(answer->mutex);
                if (answer->done) return;  // a second call changes nothing
                answer->done = true;
                answer->token = std::move(token);
                answer->error = std::move(error);
              }
              answer->arrived.notify_all();
            });

        std::unique_lock lock(answer->mutex);
        if (!answer->arrived.wait_for(lock, limit, [&] { return answer->done; })) {
          return CorvenzaError(CorvenzaErrorReason::unexpectedError,
                               UserInfo{{"detail", "The token provider did not answer in time"}});
        }
        if (answer->token) {
          if (auto self = weak.lock()) self->setIdentityId(answer->token->identityId);
          return answer->token->jwtToken;
        }
        if (answer->error) return *answer->error;
        return CorvenzaError(CorvenzaErrorReason::unexpectedError);
      });
}

}  // namespace corvenza::auth
