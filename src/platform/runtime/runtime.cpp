#include "platform/runtime/runtime.h"

#include "platform/http/curl_transport.h"
#include "platform/http/trust_store.h"

namespace corvenza::runtime {

Runtime processRuntime(std::shared_ptr<http::HttpTransport> transport,
                       std::filesystem::path caFile) {
  auto base = transport ? std::move(transport) : http::sharedTransport();
  return Runtime{http::trusting(std::move(base), caFile), dispatch::defaultExecutor(),
                 http::defaultRetryScheduler(), sigv4::sharedClockSkew(), std::move(caFile)};
}

void shutdownProcessRuntime() {
  http::shutdownSharedTransport();
  http::shutdownRetryScheduler();
  dispatch::shutdownDefaultExecutor();
}

}  // namespace corvenza::runtime
