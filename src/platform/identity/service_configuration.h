#pragma once
// The region and credentials the storage clients use, the process-wide
// default, and a registry of shared facilities keyed by name.

#include <corvenza/region.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>
#include <utility>

#include "platform/identity/credentials_source.h"

namespace corvenza::identity {

struct ServiceConfiguration {
  AWSRegionType region;
  std::shared_ptr<CredentialsSource> credentialsProvider;
};

/// Holds the process-wide default configuration. Thread-safe.
class ServiceManager {
 public:
  static ServiceManager& defaultServiceManager();

  std::shared_ptr<const ServiceConfiguration> defaultServiceConfiguration() const;
  void setDefaultServiceConfiguration(std::shared_ptr<const ServiceConfiguration> configuration);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const ServiceConfiguration> default_;
};

/// Shared facilities (transfer utility, presigned-URL builder) by name.
/// get<T>() answers nothing when the name holds an object of another type.
/// Thread-safe.
class ServiceRegistry {
 public:
  static ServiceRegistry& shared();

  template <typename T>
  void put(const std::string& key, std::shared_ptr<T> object) {
    std::lock_guard lock(mutex_);
    entries_.insert_or_assign(key, Entry{std::type_index(typeid(T)), std::move(object)});
  }

  template <typename T>
  std::shared_ptr<T> get(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end() || it->second.type != std::type_index(typeid(T))) return nullptr;
    return std::static_pointer_cast<T>(it->second.object);
  }

  void remove(const std::string& key);

 private:
  struct Entry {
    std::type_index type;
    std::shared_ptr<void> object;
  };
  mutable std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace corvenza::identity
