#include <corvenza/console.h>
#include <corvenza/default_token_provider.h>

#include <atomic>
#include <utility>
#include <vector>

#include "auth/token_provider_environment.h"
#include "platform/device/jwt_decoder.h"

namespace corvenza {

namespace {

constexpr const char* kMalformedWarning = "Warning: malformed JWT token";

using WallClock = std::chrono::system_clock;

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

// Writes (or, for no token, deletes) one account's pair of entries.
void storeEntries(device::KeyStore& store, const auth::KeychainEntries& names,
                  const std::optional<CorvenzaToken>& token) {
  if (!token) {
    store.remove(names.jwtToken);
    store.remove(names.identityId);
    return;
  }
  store.set(token->jwtToken, names.jwtToken);
  store.set(token->identityId, names.identityId);
}

}  // namespace

// One call of the refresh function and everyone waiting for its answer.
struct DefaultTokenProvider::Refresh {
  std::string account;
  WallClock::time_point startedAt;
  std::vector<TokenCallback> waiters;  // guarded by the provider's mutex_
  bool signedOut = false;              // clear() came first: answer, but keep nothing
};

auth::KeychainEntries auth::keychainEntriesFor(const std::string& account) {
  if (account.empty()) return {kJwtTokenEntry, kIdentityIdEntry};
  return {std::string(kJwtTokenEntry) + "." + account,
          std::string(kIdentityIdEntry) + "." + account};
}

std::shared_ptr<const DefaultTokenProvider::Environment>
DefaultTokenProvider::Environment::system() {
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
  std::lock_guard start(refreshStartMutex_);
  const auto now = environment_->now();
  auto refresh = std::make_shared<Refresh>();
  {
    std::lock_guard lock(mutex_);
    // Two refreshes at once could bring two different identities; the second
    // caller waits for the first answer instead. One that hangs is not joined
    // for ever.
    if (refresh_ && refresh_->account == account_ && now >= refresh_->startedAt &&
        now - refresh_->startedAt < auth::kRefreshJoinLimit) {
      refresh_->waiters.push_back(std::move(callback));
      return;
    }
    refresh->account = account_;
    refresh->startedAt = now;
    refresh->waiters.push_back(std::move(callback));
    refresh_ = refresh;
  }
  std::weak_ptr<DefaultTokenProvider> weak = weak_from_this();
  auto answered = std::make_shared<std::atomic<bool>>(false);
  block([weak, refresh, answered](std::optional<CorvenzaToken> token, std::optional<Error> error) {
    if (answered->exchange(true)) return;  // a second answer changes nothing
    if (auto self = weak.lock()) {
      self->finishRefresh(refresh, std::move(token), std::move(error));
      return;
    }
    // Nobody can join a refresh whose provider is gone, so its waiters are ours.
    for (auto& waiter : refresh->waiters) {
      if (waiter) waiter(token, error);
    }
  });
}

void DefaultTokenProvider::finishRefresh(const std::shared_ptr<Refresh>& refresh,
                                         std::optional<CorvenzaToken> token,
                                         std::optional<Error> error) {
  std::vector<TokenCallback> waiters;
  {
    std::lock_guard keychain(keychainMutex_);
    bool current;
    {
      std::lock_guard lock(mutex_);
      if (refresh_ == refresh) refresh_.reset();
      waiters = std::move(refresh->waiters);
      current = account_ == refresh->account;
      if (refresh->signedOut) current = false;
    }
    if (refresh->signedOut) {
      // Signed out meanwhile: the token reaches those who asked, never the keychain.
    } else if (current) {
      setToken(token);
    } else {
      // The account changed meanwhile: the token is kept for the account it
      // was fetched for and never becomes the new account's.
      storeEntries(*environment_->keyStore, auth::keychainEntriesFor(refresh->account), token);
    }
  }
  for (auto& waiter : waiters) {
    if (waiter) waiter(token, error);
  }
}

bool DefaultTokenProvider::isTokenExpired() const {
  auto decoded = decodedToken(token());
  if (!decoded) return true;
  return decoded->isExpired(environment_->now());
}

bool DefaultTokenProvider::isTokenNearlyExpired() const {
  auto decoded = decodedToken(token());
  if (!decoded || !decoded->expiresAt) return true;
  const auto expiresAt = *decoded->expiresAt;
  // An expiry within the margin of the clock's earliest instant cannot have
  // the margin subtracted; it lies in the far past all the same.
  if (expiresAt < WallClock::time_point::min() + auth::kExpiryMargin) return true;
  return expiresAt - auth::kExpiryMargin < environment_->now();
}

void DefaultTokenProvider::saveToKeyChain() {
  std::lock_guard keychain(keychainMutex_);
  storeEntries(*environment_->keyStore, auth::keychainEntriesFor(keychainAccount()), token());
}

void DefaultTokenProvider::loadFromKeyChain() {
  std::lock_guard keychain(keychainMutex_);
  auto& store = *environment_->keyStore;
  const auto names = auth::keychainEntriesFor(keychainAccount());
  auto jwt = store.get(names.jwtToken).value_or(std::string());
  auto identityId = store.get(names.identityId).value_or(std::string());
  setToken(CorvenzaToken(std::move(jwt), std::move(identityId)));
}

void DefaultTokenProvider::clear() {
  {
    // A refresh still in flight belongs to the session being ended: the next
    // caller starts a new one, and its answer is not stored.
    std::lock_guard lock(mutex_);
    if (refresh_) {
      refresh_->signedOut = true;
      refresh_.reset();
    }
  }
  setToken(std::nullopt);
  saveToKeyChain();
}

std::string DefaultTokenProvider::keychainAccount() const {
  std::lock_guard lock(mutex_);
  return account_;
}

void DefaultTokenProvider::setKeychainAccount(std::string account) {
  changeAccount(std::move(account), {});
}

void DefaultTokenProvider::changeAccount(std::string account, const std::function<void()>& change) {
  std::lock_guard start(refreshStartMutex_);
  if (change) change();
  // Taken before mutex_, so a token being set and saved is never split across accounts.
  std::lock_guard keychain(keychainMutex_);
  std::lock_guard lock(mutex_);
  if (account_ == account) return;
  account_ = std::move(account);
  token_.reset();
}

}  // namespace corvenza
