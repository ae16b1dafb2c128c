#include "platform/identity/credentials_provider.h"

#include <utility>

#include "platform/http/retrying_transport.h"
#include "platform/identity/identity_service_messages.h"
#include "platform/identity/kept_credentials.h"

namespace corvenza::identity {

using CredentialsTask = dispatch::Task<sigv4::Credentials>;

std::shared_ptr<CredentialsProvider> CredentialsProvider::create(
    AWSRegionType region, std::shared_ptr<CredentialsProviderHelper> identityProvider,
    std::shared_ptr<http::HttpTransport> transport, std::string endpoint, Options options) {
  return std::shared_ptr<CredentialsProvider>(
      new CredentialsProvider(region, std::move(identityProvider), std::move(transport),
                              std::move(endpoint), std::move(options)));
}

CredentialsProvider::CredentialsProvider(
    AWSRegionType region, std::shared_ptr<CredentialsProviderHelper> identityProvider,
    std::shared_ptr<http::HttpTransport> transport, std::string endpoint, Options options)
    : region_(region),
      identityProvider_(std::move(identityProvider)),
      endpoint_(std::move(endpoint)),
      options_([&] {
        if (!options.now) options.now = [] { return std::chrono::system_clock::now(); };
        return std::move(options);
      }()),
      transport_(std::move(transport)) {}

bool CredentialsProvider::isFresh(const sigv4::Credentials& credentials) const {
  // Credentials without an expiry are never trusted from the cache.
  if (!credentials.expiration) return false;
  return *credentials.expiration - options_.refreshMargin > options_.now();
}

CredentialsTask CredentialsProvider::getCredentials() {
  std::uint64_t generation;
  CredentialsTask::Source source = CredentialsTask::pending();
  const auto account = identityProvider_ ? identityProvider_->accountKey() : std::string();
  {
    std::lock_guard lock(mutex_);
    if (account != account_) {
      // Another user now: the previous user's credentials must not sign anything.
      cached_.reset();
      inFlight_.reset();
      identityId_.clear();
      ++generation_;
      account_ = account;
    }
    if (cached_ && isFresh(*cached_)) return CredentialsTask::completed(*cached_);
    if (inFlight_) return *inFlight_;
    inFlight_ = source.task;
    generation = generation_;
  }
  startRefresh(generation, source.finish);
  return source.task;
}

void CredentialsProvider::startRefresh(std::uint64_t generation, Finish finish) {
  if (!identityProvider_) {
    CredentialsTask::Outcome failure(CorvenzaError(CorvenzaErrorReason::unexpectedError,
                                                   UserInfo{{"detail", "No identity provider"}}));
    endRefresh(generation, failure);
    finish(std::move(failure));
    return;
  }
  std::weak_ptr<CredentialsProvider> weak = weak_from_this();
  identityProvider_->token().continueWith(
      [weak, generation, finish](const dispatch::Task<std::string>::Outcome& token) {
        auto self = weak.lock();
        if (!self) {
          finish(CorvenzaError(CorvenzaErrorReason::unexpectedError,
                               UserInfo{{"detail", "The credentials provider was released"}}));
          return;
        }
        if (!token.ok()) {
          self->endRefresh(generation, token.error());
          finish(token.error());
          return;
        }
        self->requestCredentials(generation, finish, token.value());
      });
}

void CredentialsProvider::requestCredentials(std::uint64_t generation, Finish finish,
                                             std::string jwt) {
  std::string identityId = identityProvider_->identityId();
  if (identityId.empty()) {
    CredentialsTask::Outcome failure(
        CorvenzaError(CorvenzaErrorReason::unexpectedError,
                      UserInfo{{"detail", "The identity provider gave no identity id"}}));
    endRefresh(generation, failure);
    finish(std::move(failure));
    return;
  }
  if (auto kept = keptFor(identityId)) {
    {
      std::lock_guard lock(mutex_);
      if (generation_ == generation) identityId_ = identityId;
    }
    CredentialsTask::Outcome outcome(std::move(*kept));
    endRefresh(generation, outcome);
    finish(std::move(outcome));
    return;
  }
  auto transport = this->transport();
  if (!transport) {
    CredentialsTask::Outcome failure(CorvenzaError(
        CorvenzaErrorReason::unexpectedError,
        UserInfo{{"detail", "The credentials provider was given no HTTP transport"}}));
    endRefresh(generation, failure);
    finish(std::move(failure));
    return;
  }
  auto request = makeGetCredentialsRequest(endpoint_, identityId, jwt);
  std::weak_ptr<CredentialsProvider> weak = weak_from_this();
  transport->send(std::move(request), [weak, generation, finish, jwt = std::move(jwt)](
                                          detail::Result<http::HttpResponse> response) {
    CredentialsTask::Outcome outcome = [&]() -> CredentialsTask::Outcome {
      if (!response.ok()) return response.error();
      auto parsed = parseGetCredentialsResponse(response.value(), jwt);
      if (!parsed.ok()) return parsed.error();
      auto self = weak.lock();
      if (self) {
        if (!parsed->identityId.empty()) {
          self->identityProvider_->setIdentityId(parsed->identityId);
        }
        std::lock_guard lock(self->mutex_);
        if (self->generation_ == generation) {
          self->identityId_ = parsed->identityId.empty() ? self->identityProvider_->identityId()
                                                         : parsed->identityId;
        }
      }
      return std::move(parsed->credentials);
    }();
    if (auto self = weak.lock()) self->endRefresh(generation, outcome, /*fetched=*/true);
    finish(std::move(outcome));
  });
}

void CredentialsProvider::endRefresh(std::uint64_t generation,
                                     const CredentialsTask::Outcome& outcome, bool fetched) {
  KeptCredentials record;
  std::string account;
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;  // cleared meanwhile: neither cache nor clear anew
    inFlight_.reset();
    if (!outcome.ok()) return;
    cached_ = outcome.value();
    if (!fetched) return;
    record = {identityProvider_->identityPoolId(), endpoint_, identityId_, outcome.value()};
    account = account_;
  }
  if (record.identityId.empty()) return;
  if (auto store = identityProvider_->credentialStore()) keepCredentials(*store, account, record);
}

std::optional<sigv4::Credentials> CredentialsProvider::keptFor(
    const std::string& identityId) const {
  auto store = identityProvider_->credentialStore();
  if (!store) return std::nullopt;
  auto kept = readKeptCredentials(*store, identityProvider_->accountKey());
  if (!kept || kept->identityPoolId != identityProvider_->identityPoolId() ||
      kept->endpoint != endpoint_ || kept->identityId != identityId ||
      !isFresh(kept->credentials)) {
    return std::nullopt;
  }
  return std::move(kept->credentials);
}

void CredentialsProvider::dropKept(const std::optional<std::string>& accessKeyId) {
  if (!identityProvider_) return;
  if (auto store = identityProvider_->credentialStore()) {
    dropKeptCredentials(*store, identityProvider_->accountKey(), accessKeyId);
  }
}

std::shared_ptr<http::HttpTransport> CredentialsProvider::transport() {
  std::lock_guard lock(mutex_);
  return transport_;
}

std::string CredentialsProvider::identityId() const {
  std::lock_guard lock(mutex_);
  return identityId_;
}

void CredentialsProvider::clearCredentials() {
  {
    std::lock_guard lock(mutex_);
    cached_.reset();
    inFlight_.reset();
    ++generation_;
  }
  dropKept();
}

void CredentialsProvider::forget(const sigv4::Credentials& refused) {
  {
    std::lock_guard lock(mutex_);
    if (cached_ && cached_->accessKeyId == refused.accessKeyId) cached_.reset();
  }
  dropKept(refused.accessKeyId);
}

void CredentialsProvider::clearKeychain() {
  {
    std::lock_guard lock(mutex_);
    cached_.reset();
    inFlight_.reset();
    identityId_.clear();
    ++generation_;
  }
  dropKept();
}

}  // namespace corvenza::identity
