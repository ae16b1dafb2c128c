#pragma once
// What the library needs of a token provider that keeps its user's token (a
// DefaultTokenProvider or one derived from it): refresh it when due, read
// what is stored, forget it, and name whose it is. Made once per provider,
// so that nothing else asks which kind of provider it was given.

#include <corvenza/default_token_provider.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/device/key_store.h"

namespace corvenza::auth {

class TokenCache {
 public:
  /// The store of @p provider, or nothing for a provider that keeps no token.
  static std::shared_ptr<TokenCache> of(const std::shared_ptr<CorvenzaTokenProvider>& provider);

  explicit TokenCache(std::shared_ptr<DefaultTokenProvider> provider)
      : provider_(std::move(provider)) {}

  /// The stored token while it is not due, else a fresh one (see
  /// DefaultTokenProvider::ensureToken).
  void ensureToken(DefaultTokenProvider::TokenCallback callback) {
    provider_->ensureToken(std::move(callback));
  }
  /// The token in hand, else the one stored for the provider's account.
  std::optional<CorvenzaToken> storedToken();
  /// Forgets the token, in memory and in the store.
  void clear() { provider_->clear(); }
  /// Whose tokens these are: a change of account drops the credentials.
  std::string account() const { return provider_->keychainAccount(); }
  /// The store the token is kept in.
  std::shared_ptr<device::KeyStore> keyStore() const;

 private:
  std::shared_ptr<DefaultTokenProvider> provider_;
};

}  // namespace corvenza::auth
