#pragma once
// Federated credentials: the identity provider's token is exchanged for
// temporary credentials with GetCredentialsForIdentity (enhanced flow).
// Credentials are cached until shortly before they expire, in memory and,
// where the identity provider names a store, between processes; concurrent
// callers share one refresh.

#include <corvenza/region.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/http/http_transport.h"
#include "platform/identity/credentials_provider_helper.h"
#include "platform/identity/credentials_source.h"

namespace corvenza::identity {

class CredentialsProvider final : public CredentialsSource,
                                  public std::enable_shared_from_this<CredentialsProvider> {
 public:
  struct Options {
    /// Cached credentials are refreshed once less than this is left.
    std::chrono::seconds refreshMargin{300};
    /// Wall-clock time, replaceable by tests.
    std::function<std::chrono::system_clock::time_point()> now;
  };

  /// @param region the identity pool's region
  /// @param identityProvider the bridge that yields the identity token and id
  /// @param transport where requests go; required (without one every fetch
  ///        fails); give it retries, as the call is idempotent
  /// @param endpoint the identity service's URL (see detail::cognitoIdentityEndpoint)
  static std::shared_ptr<CredentialsProvider> create(
      AWSRegionType region, std::shared_ptr<CredentialsProviderHelper> identityProvider,
      std::shared_ptr<http::HttpTransport> transport, std::string endpoint, Options options);
  static std::shared_ptr<CredentialsProvider> create(
      AWSRegionType region, std::shared_ptr<CredentialsProviderHelper> identityProvider,
      std::shared_ptr<http::HttpTransport> transport, std::string endpoint) {
    return create(region, std::move(identityProvider), std::move(transport), std::move(endpoint),
                  Options{});
  }

  /// Cached credentials while they are good for longer than the margin,
  /// otherwise the outcome of one refresh shared by every caller that asks
  /// meanwhile. A refresh first looks for credentials another process kept
  /// for the same account, pool, service and identity. When the identity provider's account
  /// changed, whatever was cached or in flight for the previous one is dropped first. The task
  /// finishes on the transport's or the identity provider's thread. Errors: the identity
  /// provider's, the transport's, kIdentityServiceErrorDomain for the service's refusals,
  /// CorvenzaError invalidResponse for an unreadable answer. Thread-safe.
  dispatch::Task<sigv4::Credentials> getCredentials() override;

  /// The identity id the credentials belong to, empty while unknown.
  std::string identityId() const;

  /// Forgets the cached credentials (kept ones included) and identity id; a
  /// refresh in flight still answers its callers but is not cached. Thread-safe.
  void clearKeychain();
  /// Forgets the cached credentials, kept ones included. Thread-safe.
  void clearCredentials();
  /// Forgets the cached credentials when they are @p refused; newer ones stay.
  void forget(const sigv4::Credentials& refused) override;

  AWSRegionType region() const noexcept { return region_; }
  const std::string& endpoint() const noexcept { return endpoint_; }
  const std::shared_ptr<CredentialsProviderHelper>& identityProvider() const noexcept {
    return identityProvider_;
  }

 private:
  using Finish = std::function<void(dispatch::Task<sigv4::Credentials>::Outcome)>;

  CredentialsProvider(AWSRegionType region,
                      std::shared_ptr<CredentialsProviderHelper> identityProvider,
                      std::shared_ptr<http::HttpTransport> transport, std::string endpoint,
                      Options options);

  void startRefresh(std::uint64_t generation, Finish finish);
  void requestCredentials(std::uint64_t generation, Finish finish, std::string jwt);
  void endRefresh(std::uint64_t generation, const dispatch::Task<sigv4::Credentials>::Outcome&,
                  bool fetched = false);
  std::optional<sigv4::Credentials> keptFor(const std::string& identityId) const;
  void dropKept(const std::optional<std::string>& accessKeyId = std::nullopt);
  bool isFresh(const sigv4::Credentials& credentials) const;
  std::shared_ptr<http::HttpTransport> transport();

  const AWSRegionType region_;
  const std::shared_ptr<CredentialsProviderHelper> identityProvider_;
  const std::string endpoint_;
  const Options options_;

  mutable std::mutex mutex_;
  std::shared_ptr<http::HttpTransport> transport_;
  std::optional<sigv4::Credentials> cached_;
  std::string identityId_;
  std::optional<dispatch::Task<sigv4::Credentials>> inFlight_;
  // The identity provider's account the cache and the refresh in flight belong to.
  std::string account_;
  // Bumped by every clear so that a refresh started before it is not cached.
  std::uint64_t generation_ = 0;
};

}  // namespace corvenza::identity
