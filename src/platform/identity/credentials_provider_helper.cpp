#include "platform/identity/credentials_provider_helper.h"

#include <utility>

namespace corvenza::identity {

CredentialsProviderHelper::CredentialsProviderHelper(AWSRegionType region,
                                                     std::string identityPoolId,
                                                     bool useEnhancedFlow)
    : region_(region),
      identityPoolId_(std::move(identityPoolId)),
      useEnhancedFlow_(useEnhancedFlow) {}

std::string CredentialsProviderHelper::identityId() const {
  std::lock_guard lock(mutex_);
  return identityId_;
}

void CredentialsProviderHelper::setIdentityId(std::string identityId) {
  std::lock_guard lock(mutex_);
  identityId_ = std::move(identityId);
}

void CredentialsProviderHelper::clear() { setIdentityId({}); }

}  // namespace corvenza::identity
