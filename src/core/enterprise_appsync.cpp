#include <corvenza/console.h>
#include <corvenza/default_token_provider.h>

#include "core/enterprise_impl.h"
#include "platform/appsync/graphql_client.h"
#include "platform/appsync/realtime/realtime_client.h"
#include "platform/device/private_directory.h"
#include "platform/identity/credentials_provider.h"
#include "platform/identity/request_signing.h"
#include "platform/identity/service_configuration.h"
#include "platform/storage/s3_object_manager.h"
#include "requests/graphql_gateway.h"

namespace corvenza {

namespace {

// Whose records the offline cache may hold: the identity of the credentials in
// use, else (before any were fetched, as offline) the identity of the token
// the provider keeps for its current user.
std::string signedInIdentity(identity::CredentialsProvider* credentials,
                             const std::shared_ptr<CorvenzaTokenProvider>& provider) {
  if (credentials) {
    if (auto id = credentials->identityId(); !id.empty()) return id;
  }
  if (!provider) return {};
  auto token = provider->token();
  if (!token) {
    if (auto keychain = std::dynamic_pointer_cast<DefaultTokenProvider>(provider)) {
      keychain->loadFromKeyChain();
      token = keychain->token();
    }
  }
  return token ? token->identityId : std::string();
}

}  // namespace

void CorvenzaEnterprise::Instance::initializeAppSync() {
  // The transfer utility, in its role as the client's object manager. Every
  // upload reads the encryption key afresh.
  std::shared_ptr<const identity::ServiceConfiguration> storageConfiguration;
  {
    std::lock_guard lock(impl_->mutex);
    storageConfiguration = impl_->serviceConfiguration;
  }
  if (storageConfiguration) {
    storage::TransferUtility::registerTransferUtility(*storageConfiguration, "CorvenzaEnterprise");
    auto manager = std::make_shared<storage::S3ObjectManager>(
        storage::TransferUtility::forKey("CorvenzaEnterprise"), [this] { return encryptionKey(); },
        nullptr,
        [this](const appsync::S3UploadDescription&, std::uint64_t sent, std::uint64_t total) {
          reportUploadProgress(*impl_, sent, total);
        });
    std::lock_guard lock(impl_->mutex);
    impl_->s3ObjectManager = std::move(manager);
  }

  std::string endpoint;
  AWSRegionType region;
  std::shared_ptr<identity::CredentialsProvider> credentials;
  std::shared_ptr<appsync::ObjectManager> objectManager;
  {
    std::lock_guard lock(impl_->mutex);
    endpoint = impl_->graphQLEndpoint;
    region = impl_->graphQLRegion;
    credentials = impl_->cognitoCredentialsProvider;
    objectManager = impl_->s3ObjectManager;
  }

  appsync::ClientConfiguration configuration;
  configuration.endpointURL = endpoint;
  configuration.region = region.stringValue();
  // Signing sits inside the retry loop, so every attempt carries a fresh signature.
  configuration.transport = identity::makeSignedTransport(http::sharedTransport(), credentials,
                                                          {region.stringValue(), "appsync"});
  // The cache's folder must be this OS user's alone; otherwise it stays in memory.
  if (auto folder = device::ensurePrivateDirectory(databaseURL().parent_path())) {
    configuration.databaseURL = databaseURL();
  } else {
    consoleLine("Warning: offline cache kept in memory only. " +
                folder.error().localizedDescription());
  }
  configuration.objectManager = std::move(objectManager);
  configuration.cacheKeyForObject = appsync::cacheKeyFromId;
  configuration.cacheOwner = [credentials, provider = tokenProvider()] {
    return signedInIdentity(credentials.get(), provider);
  };

  auto client = appsync::GraphQLClient::create(std::move(configuration));
  if (!client) {
    consoleLine("Error initializing AppSync client. " + client.error().localizedDescription());
    return;
  }
  // Subscriptions share one socket signed with the same credentials.
  appsync::RealtimeConfiguration realtimeConfiguration;
  realtimeConfiguration.endpointURL = endpoint;
  realtimeConfiguration.region = region.stringValue();
  realtimeConfiguration.credentials = credentials;
  auto realtime = appsync::makeRealtimeClient(std::move(realtimeConfiguration));
  if (!realtime) {
    consoleLine("Error initializing AppSync client. " + realtime.error().localizedDescription());
    return;
  }
  std::lock_guard lock(impl_->mutex);
  impl_->appSyncClient =
      requests::makeClientGateway(std::move(client.value()), std::move(realtime.value()));
}

}  // namespace corvenza
