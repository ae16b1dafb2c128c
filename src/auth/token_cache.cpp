#include "auth/token_cache.h"

#include "auth/token_provider_environment.h"

namespace corvenza::auth {

std::shared_ptr<TokenCache> TokenCache::of(const std::shared_ptr<CorvenzaTokenProvider>& provider) {
  auto keeping = std::dynamic_pointer_cast<DefaultTokenProvider>(provider);
  return keeping ? std::make_shared<TokenCache>(std::move(keeping)) : nullptr;
}

std::optional<CorvenzaToken> TokenCache::storedToken() {
  if (auto token = provider_->token()) return token;
  provider_->loadFromKeyChain();
  return provider_->token();
}

std::shared_ptr<device::KeyStore> TokenCache::keyStore() const {
  return provider_->environment()->keyStore;
}

}  // namespace corvenza::auth
