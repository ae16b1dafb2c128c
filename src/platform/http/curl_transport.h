#pragma once
// The libcurl transport: one multi handle driven by one thread that the
// transport owns. Requests and cancellations reach that thread through a
// locked queue and a curl_multi_wakeup.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "platform/http/http_transport.h"

namespace corvenza::http {

/// Destroying the transport joins its thread, so its last reference must not
/// be dropped from one of its own completion callbacks.
class CurlTransport final : public HttpTransport,
                            public std::enable_shared_from_this<CurlTransport> {
 public:
  static std::shared_ptr<CurlTransport> create();
  ~CurlTransport() override;
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;

  std::shared_ptr<Cancellable> send(HttpRequest request, ResponseCallback done,
                                    ProgressCallback progress = {}) override;

  /// Completes every queued and running transfer with kTransportCancelled and
  /// joins the thread. A later send() starts the thread again. Must not be
  /// called from a completion callback.
  void shutdown();

  /// Number of transfers queued or running (for tests).
  std::size_t activeCount() const;

 private:
  struct Transfer;
  struct Command {
    std::uint64_t id = 0;
    std::shared_ptr<Transfer> transfer;  // null for a cancellation
  };
  class Handle;

  CurlTransport();
  void requestCancel(std::uint64_t id);
  void startThreadLocked();
  void run();
  void begin(const std::shared_ptr<Transfer>& transfer);
  void finish(std::uint64_t id, detail::Result<HttpResponse> outcome);
  void completeFinished(std::uint64_t id, int curlCode);

  void* multi_ = nullptr;  // CURLM*, kept opaque so curl stays out of this header

  mutable std::mutex mutex_;
  std::deque<Command> commands_;
  bool stopping_ = false;
  std::size_t queued_ = 0;
  std::thread thread_;
  std::uint64_t nextId_ = 1;

  // Touched only by the transport thread.
  std::unordered_map<std::uint64_t, std::shared_ptr<Transfer>> active_;
};

/// Joins the shared transport's thread; transfers still running complete as
/// cancelled. For tests and tools that end the process cleanly.
void shutdownSharedTransport();

}  // namespace corvenza::http
