#include <corvenza/direct_token_provider.h>

#include <mutex>
#include <utility>

#include "auth/token_provider_environment.h"
#include "auth/token_request.h"
#include "platform/sigv4/crypto.h"

namespace corvenza {

// Shared with the refresh function, so a refresh reads the values current
// when it starts without holding on to the provider itself.
struct DirectTokenProvider::Settings {
  mutable std::mutex mutex;
  std::string apiUrl;
  std::string apiKey;
  int tokenDuration = 900;
  std::optional<std::string> userId;
};

namespace {

// Tokens are kept per authentication service, API key and user: a token
// fetched for one is never handed to another (user ids may belong to the
// application the key stands for). Hashed, so the names in the keychain file
// say nothing about who the users are, nor what the key is.
std::string accountFor(const std::string& apiUrl, const std::string& apiKey,
                       const std::optional<std::string>& userId) {
  const std::string owner = "token-service\n" + apiUrl + "\n" + sigv4::sha256Hex(apiKey) + "\n" +
                            (userId ? "user:" + *userId : std::string("anonymous"));
  return sigv4::sha256Hex(owner).substr(0, 32);
}

std::shared_ptr<http::HttpTransport> transportOf(
    const DefaultTokenProvider::Environment& environment) {
  return environment.transport ? environment.transport : http::sharedTransport();
}

}  // namespace

DirectTokenProvider::DirectTokenProvider(std::string apiUrl, std::string apiKey)
    : DirectTokenProvider(std::move(apiUrl), std::move(apiKey), Environment::system()) {}

DirectTokenProvider::DirectTokenProvider(std::string apiUrl, std::string apiKey,
                                         std::shared_ptr<const Environment> environment)
    : DefaultTokenProvider(std::move(environment)), settings_(std::make_shared<Settings>()) {
  settings_->apiUrl = apiUrl;
  settings_->apiKey = apiKey;
  setKeychainAccount(accountFor(apiUrl, apiKey, std::nullopt));
  // The block owns what it needs (settings, collaborators), not the provider.
  setRestoreTokenBlock([settings = settings_, collaborators = this->environment(),
                        apiUrl = std::move(apiUrl),
                        apiKey = std::move(apiKey)](TokenCallback completion) {
    int duration;
    std::optional<std::string> userId;
    {
      std::lock_guard lock(settings->mutex);
      duration = settings->tokenDuration;
      userId = settings->userId;
    }
    auto request = auth::makeTokenRequest(apiUrl, apiKey, userId, duration);
    if (!request.ok()) {
      completion(std::nullopt, request.error());
      return;
    }
    transportOf(*collaborators)
        ->send(std::move(request).value(),
               [completion, apiKey](detail::Result<http::HttpResponse> response) {
                 auto token = auth::readTokenAnswer(response, apiKey);
                 if (token.ok()) {
                   completion(std::move(token).value(), std::nullopt);
                 } else {
                   completion(std::nullopt, token.error());
                 }
               });
  });
}

DirectTokenProvider::~DirectTokenProvider() = default;

int DirectTokenProvider::tokenDuration() const {
  std::lock_guard lock(settings_->mutex);
  return settings_->tokenDuration;
}

void DirectTokenProvider::setTokenDuration(int seconds) {
  std::lock_guard lock(settings_->mutex);
  settings_->tokenDuration = seconds;
}

std::optional<std::string> DirectTokenProvider::userId() const {
  std::lock_guard lock(settings_->mutex);
  return settings_->userId;
}

void DirectTokenProvider::setUserId(std::optional<std::string> userId) {
  // The account follows the user, so another user's token is never used.
  const auto account = accountFor(settings_->apiUrl, settings_->apiKey, userId);
  changeAccount(account, [&] {
    std::lock_guard lock(settings_->mutex);
    settings_->userId = std::move(userId);
  });
}

}  // namespace corvenza
