#include "platform/identity/service_configuration.h"

namespace corvenza::identity {

ServiceManager& ServiceManager::defaultServiceManager() {
  // Immortal like the facade that fills it.
  static auto* manager = new ServiceManager();
  return *manager;
}

std::shared_ptr<const ServiceConfiguration> ServiceManager::defaultServiceConfiguration() const {
  std::lock_guard lock(mutex_);
  return default_;
}

void ServiceManager::setDefaultServiceConfiguration(
    std::shared_ptr<const ServiceConfiguration> configuration) {
  std::lock_guard lock(mutex_);
  default_ = std::move(configuration);
}

ServiceRegistry& ServiceRegistry::shared() {
  static auto* registry = new ServiceRegistry();
  return *registry;
}

void ServiceRegistry::remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  entries_.erase(key);
}

}  // namespace corvenza::identity
