#include "auth/developer_identity_provider.h"
#include "core/enterprise_impl.h"
#include "core/presigned_links.h"
#include "platform/endpoints.h"
#include "platform/identity/credentials_provider.h"
#include "platform/identity/service_configuration.h"
#include "platform/storage/presigned_url_builder.h"

namespace corvenza {

namespace {
// Both object-storage facilities are registered and looked up under this key.
constexpr const char* kStorageServiceKey = "CorvenzaEnterprise";
}  // namespace

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

  auto configuration = std::make_shared<const identity::ServiceConfiguration>(
      identity::ServiceConfiguration{region, credentials});
  identity::ServiceManager::defaultServiceManager().setDefaultServiceConfiguration(configuration);

  storage::PresignedURLBuilder::registerPresignedURLBuilder(*configuration, kStorageServiceKey);
  auto builder = storage::PresignedURLBuilder::forKey(kStorageServiceKey);
  // RemoteImageProxy reaches the builder through this hook (the model layer
  // cannot see the platform's).
  detail::setPresignedLinkBuilder([builder](const S3Object& object) {
    return builder->getPresignedURL(object.getBucketName(), object.getKeyName());
  });

  std::lock_guard lock(impl_->mutex);
  impl_->developerIdentityProvider = std::move(bridge);
  impl_->cognitoCredentialsProvider = std::move(credentials);
  impl_->serviceConfiguration = std::move(configuration);
  impl_->presignedURLBuilder = std::move(builder);
}

}  // namespace corvenza
