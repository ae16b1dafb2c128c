#pragma once
// What a client's components share of the process, handed down from the
// client that builds them instead of looked up where they are used: the HTTP
// transport, the executor for blocking waits, the retry timer and the
// clock-skew correction its signers read.

#include <filesystem>
#include <memory>

#include "platform/dispatch/executor.h"
#include "platform/http/http_transport.h"
#include "platform/http/retrying_transport.h"
#include "platform/sigv4/clock_skew.h"

namespace corvenza::runtime {

struct Runtime {
  /// Trusts caFile on every request.
  std::shared_ptr<http::HttpTransport> transport;
  std::shared_ptr<dispatch::Executor> executor;
  http::Scheduler retryScheduler;
  std::shared_ptr<sigv4::ClockSkew> skew;
  /// The certificate authorities the client trusts; empty: AWS_CA_BUNDLE's,
  /// else the system store (see http::trustedAuthorities).
  std::filesystem::path caFile;
};

/// The process's runtime, with @p transport in place of its shared libcurl
/// transport when given, trusting @p caFile when given. The one place that
/// names the process-wide pieces.
Runtime processRuntime(std::shared_ptr<http::HttpTransport> transport = nullptr,
                       std::filesystem::path caFile = {});

/// Stops and joins every thread of the process's runtime: the shared
/// transport's, the executor's and the retry timer's. Each starts again on
/// its next use, so a late callback is not lost, but a process that calls
/// this is expected to be ending.
void shutdownProcessRuntime();

}  // namespace corvenza::runtime
