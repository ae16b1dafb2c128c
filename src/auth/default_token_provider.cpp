#include <corvenza/console.h>
#include <corvenza/default_token_provider.h>

#include <utility>

#include "auth/token_provider_environment.h"
#include "platform/device/jwt_decoder.h"

namespace corvenza {

namespace {

constexpr const char* kMalformedWarning = "Warning: malformed JWT token";

// Decodes the token for the expiry checks; nothing when there is no usable token.
std::optional<device::DecodedJwt> decodedToken(const std::optional<CorvenzaToken>& token) {
  if (!token || token->jwtToken.empty()) return std::nullopt;
  auto decoded = device::decodeJwt(token->jwtToken);
  if (!decoded.ok()) {
    consoleLine(kMalformedWarning);
    return std::nullopt;
  }
  return std::move(decoded).value();
}

}  // namespace

std::shared_ptr<const DefaultTokenProvider::Environment> DefaultTokenProvider::Environment::system() {
  auto environment = std::make_shared<Environment>();
  environment->keyStore = device::makeKeychainStore(auth::kKeychainPrefix);
  environment->now = [] { return std::chrono::system_clock::now(); };
  return environment;
}

DefaultTokenProvider::DefaultTokenProvider() : DefaultTokenProvider(Environment::system()) {}

DefaultTokenProvider::DefaultTokenProvider(std::shared_ptr<const Environment> environment)
    : environment_(std::move(environment)) {
  if (!environment_) {
    environment_ = Environment::system();
  } else if (!environment_->keyStore || !environment_->now) {
    auto filled = std::make_shared<Environment>(*environment_);
    if (!filled->keyStore) filled->keyStore = device::makeKeychainStore(auth::kKeychainPrefix);
    if (!filled->now) filled->now = [] { return std::chrono::system_clock::now(); };
    environment_ = std::move(filled);
  }
}

DefaultTokenProvider::~DefaultTokenProvider() = default;

std::optional<CorvenzaToken> DefaultTokenProvider::token() const {
  std::lock_guard lock(mutex_);
  return token_;
}

void DefaultTokenProvider::setToken(std::optional<CorvenzaToken> token) {
  std::lock_guard keychain(keychainMutex_);
  {
    std::lock_guard lock(mutex_);
    token_ = std::move(token);
  }
  saveToKeyChain();
}

DefaultTokenProvider::RestoreTokenBlock DefaultTokenProvider::restoreTokenBlock() const {
  std::lock_guard lock(mutex_);
  return restoreTokenBlock_;
}

void DefaultTokenProvider::setRestoreTokenBlock(RestoreTokenBlock block) {
  std::lock_guard lock(mutex_);
  restoreTokenBlock_ = std::move(block);
}

void DefaultTokenProvider::ensureToken(TokenCallback callback) {
  if (!token()) loadFromKeyChain();
  if (isTokenNearlyExpired()) {
    restoreToken(std::move(callback));
    return;
  }
  callback(token(), std::nullopt);
}

void DefaultTokenProvider::restoreToken(TokenCallback callback) {
  auto block = restoreTokenBlock();
  if (!block) {
    // Without a refresh function nobody would ever answer; say so instead.
    callback(std::nullopt,
             CorvenzaError(CorvenzaErrorReason::unexpectedError,
                           UserInfo{{"detail", "No token refresh function is installed"}}));
    return;
  }
  std::weak_ptr<DefaultTokenProvider> weak = weak_from_this();
  block([weak, callback = std::move(callback)](std::optional<CorvenzaToken> token,
                                               std::optional<Error> error) {
    if (auto self = weak.lock()) self->setToken(token);
    if (callback) callback(std::move(token), std::move(error));
  });
}

bool DefaultTokenProvider::isTokenExpired() const {
  auto decoded = decodedToken(token());
  if (!decoded) return true;
  return decoded->isExpired(environment_->now());
}

bool DefaultTokenProvider::isTokenNearlyExpired() const {
  auto decoded = decodedToken(token());
  if (!decoded || !decoded->expiresAt) return true;
  return *decoded->expiresAt - auth::kExpiryMargin < environment_->now();
}

void DefaultTokenProvider::saveToKeyChain() {
  std::lock_guard keychain(keychainMutex_);
  auto current = token();
  auto& store = *environment_->keyStore;
  if (!current) {
    store.remove(auth::kJwtTokenEntry);
    store.remove(auth::kIdentityIdEntry);
    return;
  }
  store.set(current->jwtToken, auth::kJwtTokenEntry);
  store.set(current->identityId, auth::kIdentityIdEntry);
}

void DefaultTokenProvider::loadFromKeyChain() {
  std::lock_guard keychain(keychainMutex_);
  auto& store = *environment_->keyStore;
  auto jwt = store.get(auth::kJwtTokenEntry).value_or(std::string());
  auto identityId = store.get(auth::kIdentityIdEntry).value_or(std::string());
  setToken(CorvenzaToken(std::move(jwt), std::move(identityId)));
}

void DefaultTokenProvider::clear() {
  setToken(std::nullopt);
  saveToKeyChain();
}

}  // namespace corvenza
