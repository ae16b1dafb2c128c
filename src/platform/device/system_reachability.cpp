#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include "platform/device/reachability.h"

namespace corvenza::device {

namespace {

class SystemReachability final : public Reachability {
 public:
  Connection connection() const override {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return Connection::unavailable;
    Connection result = Connection::unavailable;
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
      if (it->ifa_addr == nullptr) continue;
      const int family = it->ifa_addr->sa_family;
      if (family != AF_INET && family != AF_INET6) continue;
      const unsigned flags = it->ifa_flags;
      if ((flags & IFF_LOOPBACK) || !(flags & IFF_UP) || !(flags & IFF_RUNNING)) continue;
      result = Connection::wired;
      break;
    }
    freeifaddrs(list);
    return result;
  }
};

}  // namespace

std::unique_ptr<Reachability> makeSystemReachability() {
  return std::make_unique<SystemReachability>();
}

}  // namespace corvenza::device
