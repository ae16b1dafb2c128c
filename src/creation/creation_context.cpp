#include "creation/creation_context.h"

#include "auth/developer_identity_provider.h"
#include "auth/token_cache.h"
#include "platform/identity/credentials_provider.h"
#include "platform/storage/transfer_utility.h"
#include "requests/client_state.h"
#include "requests/request_support.h"

namespace corvenza::creation {

CreationContext::CreationContext(std::shared_ptr<requests::ClientState> state)
    : state_(std::move(state)) {}

std::shared_ptr<requests::GraphQLGateway> CreationContext::gateway() const {
  return requests::graphQLClient(*state_);
}

std::shared_ptr<MainQueue> CreationContext::queue() const { return state_->queue(); }

UploadTarget CreationContext::uploadTarget() const {
  const auto settings = state_->settings();
  return {settings->imageBucketName, settings->imageBucketRegion};
}

std::string CreationContext::identityId() const {
  const auto bridge = state_->services()->developerIdentityProvider;
  return bridge ? bridge->identityId() : std::string();
}

std::optional<Error> CreationContext::checkPhotoStorage() const {
  const auto transfers = state_->services()->transferUtility;
  const auto bucket = state_->settings()->imageBucketName;
  // Without a transfer utility (start-up could not build one and said so)
  // the upload itself reports; there is nothing to look at here.
  if (!transfers) return std::nullopt;
  return transfers->checkUploadTarget(bucket);
}

bool CreationContext::offline() const {
  return readPolicy() == appsync::CachePolicy::returnCacheDataDontFetch;
}

appsync::CachePolicy CreationContext::readPolicy() const {
  return requests::readCachePolicy(*state_);
}

DownloadLinkMaker CreationContext::downloadLinks() const {
  return requests::downloadLinks(*state_);
}

std::chrono::duration<double> CreationContext::stepTimeout() const {
  return std::chrono::duration<double>(requests::ClientState::kEstimationTimeOutSec);
}

void CreationContext::forgetProof(bool token) const {
  const auto services = state_->services();
  if (services->cognitoCredentialsProvider)
    services->cognitoCredentialsProvider->clearCredentials();
  if (token && services->tokenCache) services->tokenCache->clear();
}

}  // namespace corvenza::creation
