#include "platform/runtime/runtime.h"

#include "platform/http/curl_transport.h"

namespace corvenza::runtime {

Runtime processRuntime(std::shared_ptr<http::HttpTransport> transport) {
  return Runtime{transport ? std::move(transport) : http::sharedTransport(),
                 dispatch::defaultExecutor(), http::defaultRetryScheduler(),
                 sigv4::sharedClockSkew()};
}

void shutdownProcessRuntime() {
  http::shutdownSharedTransport();
  http::shutdownRetryScheduler();
  dispatch::shutdownDefaultExecutor();
}

}  // namespace corvenza::runtime
