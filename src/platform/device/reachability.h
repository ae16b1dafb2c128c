#pragma once
// Network reachability: whether the device has a usable network connection.

#include <functional>
#include <memory>

namespace corvenza::device {

enum class Connection { unavailable, wifi, cellular, wired };

class Reachability {
 public:
  virtual ~Reachability() = default;
  /// The connection as of this call.
  virtual Connection connection() const = 0;
};

/// Makes a fresh probe, or nothing when no probe can be created.
using ReachabilityFactory = std::function<std::unique_ptr<Reachability>()>;

/// Linux probe: reachable when a non-loopback interface is up, running and
/// has an IPv4 or IPv6 address.
std::unique_ptr<Reachability> makeSystemReachability();

}  // namespace corvenza::device
