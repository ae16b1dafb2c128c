#pragma once
// Base of an identity provider for the federated identity pool: it knows the
// pool and the user's identity id, and hands out the identity token with
// which the credentials provider signs in.

#include <corvenza/region.h>

#include <memory>
#include <mutex>
#include <string>

#include "platform/device/key_store.h"
#include "platform/dispatch/task.h"

namespace corvenza::identity {

class CredentialsProviderHelper : public std::enable_shared_from_this<CredentialsProviderHelper> {
 public:
  /// @param region the identity pool's region
  /// @param identityPoolId "region:guid"
  /// @param useEnhancedFlow whether credentials come straight from
  ///        GetCredentialsForIdentity (the only flow we implement)
  CredentialsProviderHelper(AWSRegionType region, std::string identityPoolId, bool useEnhancedFlow);
  virtual ~CredentialsProviderHelper() = default;
  CredentialsProviderHelper(const CredentialsProviderHelper&) = delete;
  CredentialsProviderHelper& operator=(const CredentialsProviderHelper&) = delete;

  AWSRegionType region() const noexcept { return region_; }
  const std::string& identityPoolId() const noexcept { return identityPoolId_; }
  bool useEnhancedFlow() const noexcept { return useEnhancedFlow_; }

  /// The user's identity id, empty while unknown. Thread-safe.
  std::string identityId() const;
  /// Thread-safe.
  void setIdentityId(std::string identityId);

  /// Forgets the identity id. Thread-safe.
  virtual void clear();

  /// Whose tokens this provider hands out now; credentials fetched for one
  /// account are never used for another. Empty by default. Thread-safe.
  virtual std::string accountKey() const { return {}; }

  /// Where credentials of accountKey() may be kept between processes (the
  /// store the account's token is kept in), or nothing. Thread-safe.
  virtual std::shared_ptr<device::KeyStore> credentialStore() const { return nullptr; }

  /// The identity token. Implementations set identityId() before the task
  /// finishes, so a continuation sees the id that belongs to the token.
  virtual dispatch::Task<std::string> token() = 0;

 private:
  const AWSRegionType region_;
  const std::string identityPoolId_;
  const bool useEnhancedFlow_;
  mutable std::mutex mutex_;
  std::string identityId_;
};

}  // namespace corvenza::identity
