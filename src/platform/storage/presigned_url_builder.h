#pragma once
// Time-limited download links: a URL that lets anyone holding it GET one
// stored object until it expires, signed in the query with the current
// federated credentials.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/task.h"
#include "platform/endpoints.h"
#include "platform/identity/service_configuration.h"

namespace corvenza::storage {

/// What to presign.
struct PresignedURLRequest {
  std::string bucket;
  std::string key;
  std::string httpMethod = "GET";
  /// How long the link works, from the moment it is signed (1 s to 7 days).
  std::chrono::seconds expires{900};
};

struct PresignedURLBuilderOptions {
  detail::EnvironmentLookup environment = detail::processEnvironment;
  /// The signing time; the system clock when absent.
  std::function<std::chrono::system_clock::time_point()> now;
  /// How long getPresignedURL(bucket, key) waits for credentials.
  std::chrono::seconds waitLimit{60};
};

/// Thread-safe.
class PresignedURLBuilder {
 public:
  explicit PresignedURLBuilder(identity::ServiceConfiguration configuration,
                               PresignedURLBuilderOptions options = {});

  /// The link, once credentials are at hand; the task finishes on the thread
  /// that delivers them (or at once when they are cached). Fails (domain
  /// "CorvenzaStorageError" or the credentials' own) when no link can be made.
  dispatch::Task<std::string> getPresignedURL(const PresignedURLRequest& request) const;

  /// A GET link to @p bucket / @p key valid for 900 seconds from now, or
  /// nothing on any failure. Blocks the calling thread (up to the wait limit).
  std::optional<std::string> getPresignedURL(const std::string& bucket,
                                             const std::string& key) const;

 private:
  identity::ServiceConfiguration configuration_;
  PresignedURLBuilderOptions options_;
  std::string region_;
};

}  // namespace corvenza::storage
