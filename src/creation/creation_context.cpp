#include "creation/creation_context.h"

#include <corvenza/default_token_provider.h>

#include "auth/developer_identity_provider.h"
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
  std::lock_guard lock(state_->mutex);
  return {state_->imageBucketName, state_->imageBucketRegion};
}

std::string CreationContext::identityId() const {
  std::shared_ptr<auth::DeveloperAuthenticatedIdentityProvider> bridge;
  {
    std::lock_guard lock(state_->mutex);
    bridge = state_->developerIdentityProvider;
  }
  return bridge ? bridge->identityId() : std::string();
}

std::optional<Error> CreationContext::checkPhotoStorage() const {
  std::shared_ptr<storage::TransferUtility> transfers;
  std::string bucket;
  {
    std::lock_guard lock(state_->mutex);
    transfers = state_->transferUtility;
    bucket = state_->imageBucketName;
  }
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
  return std::chrono::duration<double>(state_->estimationTimeOutSec);
}

void CreationContext::forgetProof(bool token) const {
  std::shared_ptr<identity::CredentialsProvider> credentials;
  std::shared_ptr<CorvenzaTokenProvider> provider;
  {
    std::lock_guard lock(state_->mutex);
    credentials = state_->cognitoCredentialsProvider;
    provider = state_->tokenProvider;
  }
  if (credentials) credentials->clearCredentials();
  if (!token) return;
  if (auto keychain = std::dynamic_pointer_cast<DefaultTokenProvider>(provider)) keychain->clear();
}

}  // namespace corvenza::creation
