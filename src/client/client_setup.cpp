#include "client/client_setup.h"

#include <corvenza/console.h>
#include <corvenza/default_token_provider.h>
#include <corvenza/request_callbacks.h>

#include "auth/developer_identity_provider.h"
#include "auth/token_cache.h"
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
                             const std::shared_ptr<CorvenzaTokenProvider>& provider,
                             const std::shared_ptr<auth::TokenCache>& cache) {
  if (credentials) {
    if (auto id = credentials->identityId(); !id.empty()) return id;
  }
  auto token = cache ? cache->storedToken() : provider ? provider->token() : std::nullopt;
  return token ? token->identityId : std::string();
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

void applyConfiguration(requests::ClientState& state, const CorvenzaConfig& config,
                        std::optional<std::filesystem::path> cacheFile) {
  requests::ClientSettings settings;
  settings.cognitoIDPoolID = config.idPoolId;
  settings.cognitoIDPoolRegion = AWSRegionType::regionTypeForString(config.idPoolRegion);
  settings.graphQLEndpoint = config.graphQlEndpoint;
  settings.graphQLRegion = AWSRegionType::regionTypeForString(config.graphQlRegion);
  settings.imageBucketName = config.bucketName;
  settings.imageBucketRegion = config.bucketRegion;
  settings.encryptionKey = config.encryptionKey;
  settings.cacheFile = std::move(cacheFile);
  state.setSettings(std::move(settings));
}

void useTokenProvider(requests::ClientState& state,
                      std::shared_ptr<CorvenzaTokenProvider> provider) {
  auto services = *state.services();
  services.tokenCache = auth::TokenCache::of(provider);
  services.tokenProvider = std::move(provider);
  state.setServices(std::move(services));
}

void buildIdentity(requests::ClientState& state) {
  const auto settings = state.settings();
  auto services = *state.services();
  const auto region = settings->cognitoIDPoolRegion;
  const auto& runtime = state.runtime();

  auth::DeveloperAuthenticatedIdentityProvider::Options bridgeOptions;
  bridgeOptions.executor = runtime.executor;
  auto bridge = std::make_shared<auth::DeveloperAuthenticatedIdentityProvider>(
      region, settings->cognitoIDPoolID, /*useEnhancedFlow=*/true, bridgeOptions);
  bridge->setTokenProvider(services.tokenProvider);

  // The credentials call is idempotent, so throttling and transient failures
  // are retried; a clock-skew refusal corrects the signers' clock.
  http::RetryOptions retries;
  retries.skew = [skew = runtime.skew](const http::HttpHeaders& headers) {
    return skew->updateFromHeaders(headers);
  };
  retries.scheduler = runtime.retryScheduler;
  auto credentials = identity::CredentialsProvider::create(
      region, bridge,
      std::make_shared<http::RetryingTransport>(runtime.transport, std::move(retries)),
      detail::cognitoIdentityEndpoint(region.stringValue()));

  auto configuration = std::make_shared<const identity::ServiceConfiguration>(
      identity::ServiceConfiguration{region, credentials});
  storage::PresignedURLBuilderOptions linkOptions;
  linkOptions.now = [skew = runtime.skew] { return skew->now(); };
  auto builder = std::make_shared<storage::PresignedURLBuilder>(*configuration, linkOptions);
  storage::TransferUtilityOptions transferOptions;
  transferOptions.transport = runtime.transport;
  transferOptions.skew = runtime.skew;
  transferOptions.retryScheduler = runtime.retryScheduler;
  auto transfers = std::make_shared<storage::TransferUtility>(*configuration, transferOptions);

  services.developerIdentityProvider = std::move(bridge);
  services.cognitoCredentialsProvider = std::move(credentials);
  services.serviceConfiguration = std::move(configuration);
  services.presignedURLBuilder = std::move(builder);
  services.transferUtility = std::move(transfers);
  state.setServices(std::move(services));
}

void buildGraphQL(const std::shared_ptr<requests::ClientState>& state) {
  const auto settings = state->settings();
  auto services = *state->services();
  // The transfer utility, in its role as the client's object manager. Every
  // upload reads the encryption key afresh. Held weakly: the state owns it.
  std::weak_ptr<requests::ClientState> weak = state;
  if (services.transferUtility) {
    services.s3ObjectManager = std::make_shared<storage::S3ObjectManager>(
        services.transferUtility,
        [weak] {
          auto locked = weak.lock();
          return locked ? locked->settings()->encryptionKey : std::string();
        },
        state->runtime().executor);
  }
  const auto& endpoint = settings->graphQLEndpoint;
  const auto region = settings->graphQLRegion;
  const auto credentials = services.cognitoCredentialsProvider;

  appsync::ClientConfiguration configuration;
  configuration.endpointURL = endpoint;
  configuration.region = region.stringValue();
  // Signing sits inside the retry loop, so every attempt carries a fresh signature.
  configuration.transport = identity::makeSignedTransport(state->runtime(), credentials,
                                                          {region.stringValue(), "appsync"});
  // The cache's folder must be this OS user's alone; otherwise it stays in memory.
  if (const auto& cacheFile = settings->cacheFile) {
    if (auto folder = device::ensurePrivateDirectory(cacheFile->parent_path())) {
      configuration.databaseURL = *cacheFile;
    } else {
      consoleLine("Warning: offline cache kept in memory only. " +
                  folder.error().localizedDescription());
    }
  }
  configuration.executor = state->runtime().executor;
  configuration.objectManager = services.s3ObjectManager;
  configuration.cacheKeyForObject = appsync::cacheKeyFromId;
  configuration.cacheOwner = [credentials, provider = services.tokenProvider,
                              cache = services.tokenCache] {
    return signedInIdentity(credentials.get(), provider, cache);
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
  realtimeConfiguration.skew = state->runtime().skew;
  realtimeConfiguration.caFile = state->runtime().connection.caFile;
  realtimeConfiguration.proxy = state->runtime().connection.proxy;
  // Told on the main queue, which the subscriptions name.
  realtimeConfiguration.onState =
      [weak = std::weak_ptr<requests::ClientState>(state)](RealtimeConnectionState connection) {
        auto owner = weak.lock();
        if (!owner) return;
        if (auto listener = owner->session().connectionListener()) listener(connection);
      };
  auto realtime = appsync::makeRealtimeClient(std::move(realtimeConfiguration));
  if (!realtime) {
    consoleLine("Error initializing AppSync client. " + realtime.error().localizedDescription());
    return;
  }
  services.appSyncClient =
      requests::makeClientGateway(std::move(client.value()), std::move(realtime.value()));
  state->setServices(std::move(services));
}

}  // namespace corvenza::client
