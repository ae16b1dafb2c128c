#include "platform/runtime/runtime.h"

#include "platform/http/curl_transport.h"

namespace corvenza::runtime {

Runtime processRuntime(std::shared_ptr<http::HttpTransport> transport,
                       http::ConnectionSettings connection) {
  auto base = transport ? std::move(transport) : http::sharedTransport();
  return Runtime{http::withConnectionSettings(std::move(base), connection),
                 dispatch::defaultExecutor(), http::defaultRetryScheduler(),
                 sigv4::sharedClockSkew(), std::move(connection)};
}

void shutdownProcessRuntime() {
  http::shutdownSharedTransport();
  http::shutdownRetryScheduler();
  dispatch::shutdownDefaultExecutor();
}

}  // namespace corvenza::runtime
