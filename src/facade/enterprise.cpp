// The facade: the class-level operations, the shared instance, its start-up
// and its settings. Its state is one client's (requests::ClientState), built
// by the same steps as an EstimationClient's.

#include <corvenza/enterprise.h>

#include <utility>

#include "client/client_setup.h"
#include "model/fallback_link_maker.h"
#include "platform/device/private_directory.h"
#include "platform/dispatch/default_main_queue.h"
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
  device::ReachabilityFactory factory;
  {
    auto& impl = shared().impl();
    std::lock_guard lock(impl.mutex);
    factory = impl.reachabilityFactory;
  }
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

void CorvenzaEnterprise::shutdown() { dispatch::stopDefaultMainQueue(); }

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
  std::lock_guard startup(state_->startupMutex);
  {
    std::lock_guard lock(state_->mutex);
    if (state_->initialized) return;
    state_->tokenProvider = std::move(tokenProvider);
  }
  loadConfig();  // throws when the configuration resource is missing
  initializeAWS();
  initializeAppSync();
  std::lock_guard lock(state_->mutex);
  state_->initialized = true;
}

void CorvenzaEnterprise::Instance::loadConfig() {
  client::applyConfiguration(*state_, client::readConfiguration({}));
}

void CorvenzaEnterprise::Instance::initializeAWS() { client::buildIdentity(*state_); }

void CorvenzaEnterprise::Instance::initializeAppSync() {
  {
    std::lock_guard lock(state_->mutex);
    state_->cacheFile = databaseURL();
  }
  client::buildGraphQL(state_);
}

std::string CorvenzaEnterprise::Instance::databaseName() const { return state_->databaseName; }

std::filesystem::path CorvenzaEnterprise::Instance::databaseURL() const {
  // Never a fixed name in the shared temporary folder: another OS user could
  // plant the file there first and read what we cache.
  return device::defaultCacheDirectory() / state_->databaseName;
}

#define CORVENZA_LOCKED_GETTER(type, name)          \
  type CorvenzaEnterprise::Instance::name() const { \
    std::lock_guard lock(state_->mutex);            \
    return state_->name;                            \
  }

CORVENZA_LOCKED_GETTER(std::string, graphQLEndpoint)
CORVENZA_LOCKED_GETTER(std::string, cognitoIDPoolID)
CORVENZA_LOCKED_GETTER(AWSRegionType, graphQLRegion)
CORVENZA_LOCKED_GETTER(AWSRegionType, cognitoIDPoolRegion)
CORVENZA_LOCKED_GETTER(std::string, imageBucketRegion)
CORVENZA_LOCKED_GETTER(std::string, imageBucketName)
CORVENZA_LOCKED_GETTER(std::string, encryptionKey)
CORVENZA_LOCKED_GETTER(bool, initialized)
CORVENZA_LOCKED_GETTER(std::shared_ptr<CorvenzaTokenProvider>, tokenProvider)
CORVENZA_LOCKED_GETTER(std::shared_ptr<CorvenzaEnterpriseDelegate>, delegate)
CORVENZA_LOCKED_GETTER(EstimationProgressType, estimationProgress)

#undef CORVENZA_LOCKED_GETTER

void CorvenzaEnterprise::Instance::setDelegate(
    std::shared_ptr<CorvenzaEnterpriseDelegate> delegate) {
  std::lock_guard lock(state_->mutex);
  state_->delegate = std::move(delegate);
}

double CorvenzaEnterprise::Instance::estimationTimeOutSec() const {
  return state_->estimationTimeOutSec;
}

}  // namespace corvenza
