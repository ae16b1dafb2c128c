#pragma once
// A scripted HttpTransport for unit tests: it records every request and
// completes each one only when the test answers it. Completions never run
// inline from send(): they run when the test calls deliver() (manual mode) or
// on the fake's own thread (threaded mode).

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/http/http_transport.h"

namespace corvenza::test {

class FakeHttpTransport final : public http::HttpTransport,
                                public std::enable_shared_from_this<FakeHttpTransport> {
 public:
  using Outcome = detail::Result<http::HttpResponse>;
  using Responder = std::function<Outcome(const http::HttpRequest&)>;

  enum class Mode { manual, threaded };
  static std::shared_ptr<FakeHttpTransport> create(Mode mode = Mode::manual);
  ~FakeHttpTransport() override;

  std::shared_ptr<http::Cancellable> send(http::HttpRequest request, http::ResponseCallback done,
                                          http::ProgressCallback progress = {}) override;

  /// Every request sent so far, in order.
  std::vector<http::HttpRequest> requests() const;
  /// Requests sent and not yet answered or cancelled.
  std::size_t unansweredCount() const;
  /// Number of cancel() calls that reached an unanswered request.
  std::size_t cancelCount() const;

  /// Answers the oldest unanswered request.
  void respond(Outcome outcome);
  /// Shorthands for respond().
  void respond(int status, std::string body = {}, http::HttpHeaders headers = {});
  void fail(int transportCode);
  /// Drops the unanswered requests without answering them. Their callbacks
  /// may hold layers that hold this transport, so tests that leave requests
  /// open call this at the end to break that cycle.
  void forgetUnanswered();
  /// Answers every later request with what @p responder returns.
  void setResponder(Responder responder);

  /// Manual mode: runs every queued completion on the calling thread, including
  /// those queued while running; returns how many ran.
  std::size_t deliver();
  /// Runs the progress listener request number @p index (from 0) was sent
  /// with, on the calling thread; nothing when it had none.
  void reportProgress(std::size_t index, const http::TransferProgress& progress);
  /// Waits until @p count requests have been sent or @p limit passed.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) const;

 private:
  struct Pending {
    std::uint64_t id;
    http::ResponseCallback done;
  };
  class Handle;

  explicit FakeHttpTransport(Mode mode);
  void enqueueLocked(std::function<void()> completion);
  void cancel(std::uint64_t id);
  void run();

  Mode mode_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<http::HttpRequest> requests_;
  std::vector<http::ProgressCallback> progress_;  // one per request
  std::deque<Pending> unanswered_;
  std::deque<std::function<void()>> completions_;
  Responder responder_;
  std::uint64_t nextId_ = 1;
  std::size_t cancels_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace corvenza::test
