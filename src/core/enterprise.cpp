#include <corvenza/console.h>
#include <corvenza/enterprise.h>

#include <utility>

#include "core/config_file.h"
#include "core/enterprise_impl.h"
#include "platform/device/private_directory.h"

namespace corvenza {

namespace {

std::mutex& mainQueueMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<MainQueue>& mainQueueSlot() {
  static std::shared_ptr<MainQueue> queue;
  return queue;
}

}  // namespace

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
  std::shared_ptr<MainQueue> previous;
  {
    std::lock_guard lock(mainQueueMutex());
    previous = std::exchange(mainQueueSlot(), std::move(queue));
  }
}

std::shared_ptr<MainQueue> CorvenzaEnterprise::mainQueue() {
  std::lock_guard lock(mainQueueMutex());
  if (!mainQueueSlot()) mainQueueSlot() = MainQueue::startOnOwnThread();
  return mainQueueSlot();
}

void CorvenzaEnterprise::shutdown() {
  std::shared_ptr<MainQueue> queue;
  {
    std::lock_guard lock(mainQueueMutex());
    queue = mainQueueSlot();
  }
  if (queue) queue->stop();
}

// --- instance level ---------------------------------------------------------

CorvenzaEnterprise::Instance::Instance() : impl_(std::make_unique<Impl>()) {}
CorvenzaEnterprise::Instance::~Instance() = default;

void CorvenzaEnterprise::Instance::Impl::resetForTesting() {
  CorvenzaEnterprise::shared().impl_ = std::make_unique<Impl>();
}

void CorvenzaEnterprise::Instance::initialize(
    std::shared_ptr<CorvenzaTokenProvider> tokenProvider) {
  std::lock_guard startup(impl_->startupMutex);
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->initialized) return;
    impl_->tokenProvider = std::move(tokenProvider);
  }
  loadConfig();  // throws when the configuration resource is missing
  initializeAWS();
  initializeAppSync();
  std::lock_guard lock(impl_->mutex);
  impl_->initialized = true;
}

void CorvenzaEnterprise::Instance::loadConfig() {
  auto path = Bundle::pathForResource("corvenza-config", "json");
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
  std::lock_guard lock(impl_->mutex);
  impl_->cognitoIDPoolID = config->idPoolId;
  impl_->cognitoIDPoolRegion = AWSRegionType::regionTypeForString(config->idPoolRegion);
  impl_->graphQLEndpoint = config->graphQlEndpoint;
  impl_->graphQLRegion = AWSRegionType::regionTypeForString(config->graphQlRegion);
  impl_->imageBucketName = config->bucketName;
  impl_->imageBucketRegion = config->bucketRegion;
  impl_->encryptionKey = config->encryptionKey;
}

std::string CorvenzaEnterprise::Instance::databaseName() const { return impl_->databaseName; }

std::filesystem::path CorvenzaEnterprise::Instance::databaseURL() const {
  // Never a fixed name in the shared temporary folder: another OS user could
  // plant the file there first and read what we cache.
  return device::defaultCacheDirectory() / impl_->databaseName;
}

#define CORVENZA_LOCKED_GETTER(type, name)          \
  type CorvenzaEnterprise::Instance::name() const { \
    std::lock_guard lock(impl_->mutex);             \
    return impl_->name;                             \
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
  std::lock_guard lock(impl_->mutex);
  impl_->delegate = std::move(delegate);
}

double CorvenzaEnterprise::Instance::estimationTimeOutSec() const {
  return impl_->estimationTimeOutSec;
}

}  // namespace corvenza
