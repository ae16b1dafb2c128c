#pragma once
// Chooses the service for a request by the longest mounted path prefix.

#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "base/service.h"

namespace corvenza::emulator {

class Router {
 public:
  /// Mounts @p service at @p prefix ("/auth"): it receives "/auth" and every
  /// path below "/auth/", not "/authority". A later mount at the same prefix
  /// replaces the earlier one. Thread-safe.
  void mount(std::string prefix, std::shared_ptr<Service> service);

  struct Match {
    std::shared_ptr<Service> service;
    /// The request's path below the prefix: "" or starting with '/'.
    std::string subpath;
  };
  /// The service for @p path, or no service when nothing is mounted there.
  Match find(const std::string& path) const;

  /// Routes @p request and answers through @p respond: 404 JSON when no
  /// service is mounted at its path.
  void dispatch(Request request, Service::Responder respond) const;

 private:
  struct Mount {
    std::string prefix;
    std::shared_ptr<Service> service;
  };
  mutable std::shared_mutex mutex_;
  std::vector<Mount> mounts_;
};

/// Answers every request with 501: a place holder for services still to come.
class NotImplementedService : public Service {
 public:
  explicit NotImplementedService(std::string name) : name_(std::move(name)) {}
  std::string_view name() const override { return name_; }
  Response handle(const Request& request) override;

 private:
  std::string name_;
};

}  // namespace corvenza::emulator
