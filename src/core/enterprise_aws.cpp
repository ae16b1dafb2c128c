#include "auth/developer_identity_provider.h"
#include "core/enterprise_impl.h"
#include "platform/endpoints.h"
#include "platform/identity/credentials_provider.h"
#include "platform/identity/service_configuration.h"

namespace corvenza {

void CorvenzaEnterprise::Instance::initializeAWS() {
  AWSRegionType region;
  std::string poolId;
  std::shared_ptr<CorvenzaTokenProvider> provider;
  {
    std::lock_guard lock(impl_->mutex);
    region = impl_->cognitoIDPoolRegion;
    poolId = impl_->cognitoIDPoolID;
    provider = impl_->tokenProvider;
  }

  auto bridge = std::make_shared<auth::DeveloperAuthenticatedIdentityProvider>(
      region, poolId, /*useEnhancedFlow=*/true);
  bridge->setTokenProvider(std::move(provider));

  // The transport is looked up at the first request, so start-up opens no connection.
  auto credentials = identity::CredentialsProvider::create(
      region, bridge, nullptr, detail::cognitoIdentityEndpoint(region.stringValue()));

  auto configuration =
      std::make_shared<const identity::ServiceConfiguration>(
          identity::ServiceConfiguration{region, credentials});
  identity::ServiceManager::defaultServiceManager().setDefaultServiceConfiguration(configuration);

  std::lock_guard lock(impl_->mutex);
  impl_->developerIdentityProvider = std::move(bridge);
  impl_->cognitoCredentialsProvider = std::move(credentials);
  impl_->serviceConfiguration = std::move(configuration);
}

}  // namespace corvenza
