// The facade: the class-level operations, the shared instance, its start-up
// and its settings. Its state is one client's (requests::ClientState), built
// by the same steps as an EstimationClient's.

#include <corvenza/enterprise.h>

#include <utility>

#include "client/client_setup.h"
#include "model/fallback_link_maker.h"
#include "platform/device/private_directory.h"
#include "platform/dispatch/default_main_queue.h"
#include "platform/http/connection_settings.h"
#include "platform/runtime/runtime.h"
#include "requests/client_state.h"
#include "requests/request_support.h"

namespace corvenza {

// --- class level ------------------------------------------------------------

CorvenzaEnterprise::Instance& CorvenzaEnterprise::shared() {
  // Immortal on purpose: callbacks may still run during static destruction.
  static Instance* instance = new Instance();
  return *instance;
}

void CorvenzaEnterprise::initialize(std::shared_ptr<CorvenzaTokenProvider> tokenProvider) {
  shared().initialize(std::move(tokenProvider));
}

std::shared_ptr<CorvenzaTokenProvider> CorvenzaEnterprise::tokenProvider() {
  return shared().tokenProvider();
}

bool CorvenzaEnterprise::isNetworkReachable() {
  const auto factory = shared().impl().services()->reachabilityFactory;
  auto probe = factory ? factory() : nullptr;
  // Without a probe nothing says the network is down: assume it is up.
  if (!probe) return true;
  return probe->connection() != device::Connection::unavailable;
}

Error CorvenzaEnterprise::unknownError() {
  return CorvenzaError(CorvenzaErrorReason::unexpectedError);
}

void CorvenzaEnterprise::setMainQueue(std::shared_ptr<MainQueue> queue) {
  dispatch::setDefaultMainQueue(std::move(queue));
}

std::shared_ptr<MainQueue> CorvenzaEnterprise::mainQueue() { return dispatch::defaultMainQueue(); }

bool CorvenzaEnterprise::setConnectionSettings(std::filesystem::path caBundle, std::string proxy) {
  auto& state = *shared().state_;
  std::lock_guard startup(state.startupMutex());
  if (state.initialized()) return false;
  // The process's: the token provider's own requests follow them too.
  http::setProcessConnectionSettings({std::move(caBundle), std::move(proxy)});
  return true;
}

void CorvenzaEnterprise::shutdown() {
  dispatch::stopDefaultMainQueue();
  runtime::shutdownProcessRuntime();
}

// --- instance level ---------------------------------------------------------

CorvenzaEnterprise::Instance::Instance() : state_(std::make_shared<requests::ClientState>()) {
  // A proxy the application builds from a stored location has no client of
  // its own; it signs with this instance's builder once initialize made one.
  model::setFallbackLinkMaker([](const S3Object& object) -> std::optional<std::string> {
    auto links = requests::downloadLinks(CorvenzaEnterprise::shared().impl());
    if (!links) return std::nullopt;
    return links(object);
  });
}
CorvenzaEnterprise::Instance::~Instance() = default;

void detail::resetSharedInstanceForTesting() {
  CorvenzaEnterprise::shared().state_ = std::make_shared<requests::ClientState>();
}

void CorvenzaEnterprise::Instance::initialize(
    std::shared_ptr<CorvenzaTokenProvider> tokenProvider) {
  std::lock_guard startup(state_->startupMutex());
  if (state_->initialized()) return;
  client::useTokenProvider(*state_, std::move(tokenProvider));
  loadConfig();  // throws when the configuration resource is missing
  initializeAWS();
  initializeAppSync();
  state_->markInitialized();
}

void CorvenzaEnterprise::Instance::loadConfig() {
  client::applyConfiguration(*state_, client::readConfiguration({}), databaseURL());
}

void CorvenzaEnterprise::Instance::initializeAWS() { client::buildIdentity(*state_); }

void CorvenzaEnterprise::Instance::initializeAppSync() { client::buildGraphQL(state_); }

std::string CorvenzaEnterprise::Instance::databaseName() const {
  return requests::ClientState::kDatabaseName;
}

std::filesystem::path CorvenzaEnterprise::Instance::databaseURL() const {
  // Never a fixed name in the shared temporary folder: another OS user could
  // plant the file there first and read what we cache.
  return device::defaultCacheDirectory() / requests::ClientState::kDatabaseName;
}

#define CORVENZA_SETTING_GETTER(type, name) \
  type CorvenzaEnterprise::Instance::name() const { return state_->settings()->name; }

CORVENZA_SETTING_GETTER(std::string, graphQLEndpoint)
CORVENZA_SETTING_GETTER(std::string, cognitoIDPoolID)
CORVENZA_SETTING_GETTER(AWSRegionType, graphQLRegion)
CORVENZA_SETTING_GETTER(AWSRegionType, cognitoIDPoolRegion)
CORVENZA_SETTING_GETTER(std::string, imageBucketRegion)
CORVENZA_SETTING_GETTER(std::string, imageBucketName)
CORVENZA_SETTING_GETTER(std::string, encryptionKey)

#undef CORVENZA_SETTING_GETTER

bool CorvenzaEnterprise::Instance::initialized() const { return state_->initialized(); }

std::shared_ptr<CorvenzaTokenProvider> CorvenzaEnterprise::Instance::tokenProvider() const {
  return state_->services()->tokenProvider;
}

std::shared_ptr<CorvenzaEnterpriseDelegate> CorvenzaEnterprise::Instance::delegate() const {
  return state_->session().delegate();
}

EstimationProgressType CorvenzaEnterprise::Instance::estimationProgress() const {
  return state_->session().progress();
}

void CorvenzaEnterprise::Instance::setDelegate(
    std::shared_ptr<CorvenzaEnterpriseDelegate> delegate) {
  state_->session().setDelegate(std::move(delegate));
}

void CorvenzaEnterprise::Instance::setConnectionStateListener(ConnectionStateListener listener) {
  state_->session().setConnectionListener(std::move(listener));
}

double CorvenzaEnterprise::Instance::estimationTimeOutSec() const {
  return requests::ClientState::kEstimationTimeOutSec;
}

}  // namespace corvenza
