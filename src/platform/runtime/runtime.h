#pragma once
// What a client's components share of the process, handed down from the
// client that builds them instead of looked up where they are used: the HTTP
// transport, the executor for blocking waits, the retry timer and the
// clock-skew correction its signers read.

#include <memory>

#include "platform/dispatch/executor.h"
#include "platform/http/connection_settings.h"
#include "platform/http/http_transport.h"
#include "platform/http/retrying_transport.h"
#include "platform/sigv4/clock_skew.h"

namespace corvenza::runtime {

struct Runtime {
  /// Applies `connection` to every request.
  std::shared_ptr<http::HttpTransport> transport;
  std::shared_ptr<dispatch::Executor> executor;
  http::Scheduler retryScheduler;
  std::shared_ptr<sigv4::ClockSkew> skew;
  /// The certificate authorities and the proxy of every connection.
  http::ConnectionSettings connection;
};

/// The process's runtime, with @p transport in place of its shared libcurl
/// transport when given, with @p connection applied. The one place that
/// names the process-wide pieces.
Runtime processRuntime(std::shared_ptr<http::HttpTransport> transport = nullptr,
                       http::ConnectionSettings connection = {});

/// Stops and joins every thread of the process's runtime: the shared
/// transport's, the executor's and the retry timer's. Each starts again on
/// its next use, so a late callback is not lost, but a process that calls
/// this is expected to be ending.
void shutdownProcessRuntime();

}  // namespace corvenza::runtime
