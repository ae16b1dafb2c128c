#include "client/client_setup.h"

#include <corvenza/console.h>
#include <corvenza/default_token_provider.h>
#include <corvenza/request_callbacks.h>

#include "auth/developer_identity_provider.h"
#include "core/config_file.h"
#include "platform/appsync/graphql_client.h"
#include "platform/appsync/realtime/realtime_client.h"
#include "platform/device/private_directory.h"
#include "platform/endpoints.h"
#include "platform/http/retrying_transport.h"
#include "platform/identity/credentials_provider.h"
#include "platform/identity/request_signing.h"
#include "platform/identity/service_configuration.h"
#include "platform/sigv4/clock_skew.h"
#include "platform/storage/presigned_url_builder.h"
#include "platform/storage/s3_object_manager.h"
#include "platform/storage/transfer_utility.h"
#include "requests/graphql_gateway.h"

namespace corvenza::client {

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

// The transport a client was handed, else the process's shared one. Resolved
// here, at the top, so that nothing below looks one up.
std::shared_ptr<http::HttpTransport> transportOf(requests::ClientState& state) {
  std::lock_guard lock(state.mutex);
  if (!state.transport) state.transport = http::sharedTransport();
  return state.transport;
}

}  // namespace

CorvenzaConfig readConfiguration(const std::filesystem::path& directory) {
  std::optional<std::filesystem::path> path;
  if (directory.empty()) {
    path = Bundle::pathForResource("corvenza-config", "json");
  } else if (auto candidate = directory / "corvenza-config.json";
             std::filesystem::exists(candidate)) {
    path = candidate;
  }
  if (!path) throw CorvenzaException(CorvenzaError(CorvenzaErrorReason::configNotFound));

  // A configuration that cannot be used stops start-up like a missing one:
  // the built-in endpoints are never used in its place.
  auto bytes = detail::readConfigurationFile(*path);
  if (!bytes) {
    consoleLine("Error: cannot read config json");
    throw CorvenzaException(
        CorvenzaError(CorvenzaErrorReason::configNotFound,
                      UserInfo{{"detail", "corvenza-config.json cannot be read: " +
                                              bytes.error().localizedDescription()}}));
  }
  std::string whyNot;
  auto config = CorvenzaConfig::decode(*bytes, &whyNot);
  if (!config) {
    consoleLine("Error: cannot decode config json");
    throw CorvenzaException(
        CorvenzaError(CorvenzaErrorReason::configNotFound,
                      UserInfo{{"detail", "corvenza-config.json cannot be decoded: " + whyNot}}));
  }
  return *config;
}

void applyConfiguration(requests::ClientState& state, const CorvenzaConfig& config) {
  std::lock_guard lock(state.mutex);
  state.cognitoIDPoolID = config.idPoolId;
  state.cognitoIDPoolRegion = AWSRegionType::regionTypeForString(config.idPoolRegion);
  state.graphQLEndpoint = config.graphQlEndpoint;
  state.graphQLRegion = AWSRegionType::regionTypeForString(config.graphQlRegion);
  state.imageBucketName = config.bucketName;
  state.imageBucketRegion = config.bucketRegion;
  state.encryptionKey = config.encryptionKey;
}

void buildIdentity(requests::ClientState& state) {
  AWSRegionType region;
  std::string poolId;
  std::shared_ptr<CorvenzaTokenProvider> provider;
  {
    std::lock_guard lock(state.mutex);
    region = state.cognitoIDPoolRegion;
    poolId = state.cognitoIDPoolID;
    provider = state.tokenProvider;
  }
  auto transport = transportOf(state);

  auto bridge = std::make_shared<auth::DeveloperAuthenticatedIdentityProvider>(
      region, poolId, /*useEnhancedFlow=*/true);
  bridge->setTokenProvider(std::move(provider));

  // The credentials call is idempotent, so throttling and transient failures
  // are retried; a clock-skew refusal corrects the signers' clock.
  http::RetryOptions retries;
  retries.skew = [](const http::HttpHeaders& headers) {
    return sigv4::sharedClockSkew().updateFromHeaders(headers);
  };
  auto credentials = identity::CredentialsProvider::create(
      region, bridge, std::make_shared<http::RetryingTransport>(transport, std::move(retries)),
      detail::cognitoIdentityEndpoint(region.stringValue()));

  auto configuration = std::make_shared<const identity::ServiceConfiguration>(
      identity::ServiceConfiguration{region, credentials});
  auto builder = std::make_shared<storage::PresignedURLBuilder>(*configuration);
  storage::TransferUtilityOptions transferOptions;
  transferOptions.transport = transport;
  auto transfers = std::make_shared<storage::TransferUtility>(*configuration, transferOptions);

  std::lock_guard lock(state.mutex);
  state.developerIdentityProvider = std::move(bridge);
  state.cognitoCredentialsProvider = std::move(credentials);
  state.serviceConfiguration = std::move(configuration);
  state.presignedURLBuilder = std::move(builder);
  state.transferUtility = std::move(transfers);
}

void buildGraphQL(const std::shared_ptr<requests::ClientState>& state) {
  // The transfer utility, in its role as the client's object manager. Every
  // upload reads the encryption key afresh. Held weakly: the state owns it.
  std::weak_ptr<requests::ClientState> weak = state;
  std::shared_ptr<storage::TransferUtility> transfers;
  {
    std::lock_guard lock(state->mutex);
    transfers = state->transferUtility;
  }
  if (transfers) {
    auto manager = std::make_shared<storage::S3ObjectManager>(transfers, [weak] {
      auto locked = weak.lock();
      if (!locked) return std::string();
      std::lock_guard lock(locked->mutex);
      return locked->encryptionKey;
    });
    std::lock_guard lock(state->mutex);
    state->s3ObjectManager = std::move(manager);
  }

  std::string endpoint;
  AWSRegionType region;
  std::shared_ptr<identity::CredentialsProvider> credentials;
  std::shared_ptr<appsync::ObjectManager> objectManager;
  std::shared_ptr<CorvenzaTokenProvider> provider;
  std::optional<std::filesystem::path> cacheFile;
  {
    std::lock_guard lock(state->mutex);
    endpoint = state->graphQLEndpoint;
    region = state->graphQLRegion;
    credentials = state->cognitoCredentialsProvider;
    objectManager = state->s3ObjectManager;
    provider = state->tokenProvider;
    cacheFile = state->cacheFile;
  }

  appsync::ClientConfiguration configuration;
  configuration.endpointURL = endpoint;
  configuration.region = region.stringValue();
  // Signing sits inside the retry loop, so every attempt carries a fresh signature.
  configuration.transport = identity::makeSignedTransport(transportOf(*state), credentials,
                                                          {region.stringValue(), "appsync"});
  // The cache's folder must be this OS user's alone; otherwise it stays in memory.
  if (cacheFile) {
    if (auto folder = device::ensurePrivateDirectory(cacheFile->parent_path())) {
      configuration.databaseURL = *cacheFile;
    } else {
      consoleLine("Warning: offline cache kept in memory only. " +
                  folder.error().localizedDescription());
    }
  }
  configuration.objectManager = std::move(objectManager);
  configuration.cacheKeyForObject = appsync::cacheKeyFromId;
  configuration.cacheOwner = [credentials, provider] {
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
  std::lock_guard lock(state->mutex);
  state->appSyncClient =
      requests::makeClientGateway(std::move(client.value()), std::move(realtime.value()));
}

}  // namespace corvenza::client
