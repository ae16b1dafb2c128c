#include "platform/http/retrying_transport.h"

#include <corvenza/main_queue.h>

#include <algorithm>
#include <mutex>
#include <random>
#include <utility>

#include "core/backoff.h"

namespace corvenza::http {

struct RetryingTransport::Shared {
  std::shared_ptr<HttpTransport> inner;
  RetryOptions options;

  std::chrono::milliseconds backoff(int retry) const {
    return backoffDelay(retry, options.baseDelay, options.maxDelay, options.random());
  }
};

// The attempt's access key id, and whether its refusal was already retried.
struct RetrySignature {
  std::string accessKeyId;
  bool renewed = false;
};

namespace {

enum class Next { finish, retryNow, retryLater };

bool isTransientTransportError(const Error& error) {
  if (error.domain() != kTransportErrorDomain) return false;
  switch (error.code()) {
    case kTransportTimedOut:
    case kTransportCannotConnect:
    case kTransportCannotFindHost:
    case kTransportConnectionLost:
      return true;
    default:
      return false;
  }
}

// Failures that prove the request never reached the service.
bool neverReachedService(const Error& error) {
  return error.domain() == kTransportErrorDomain &&
         (error.code() == kTransportCannotConnect || error.code() == kTransportCannotFindHost);
}

Next classify(const detail::Result<HttpResponse>& outcome, const RetryOptions& options,
              bool idempotent, RetrySignature& signature) {
  if (!outcome.ok()) {
    if (!isTransientTransportError(outcome.error())) return Next::finish;
    // An answer lost on the way back may follow a request the service
    // handled: sending it again could, for a creation, make a second one.
    return idempotent || neverReachedService(outcome.error()) ? Next::retryLater : Next::finish;
  }
  const HttpResponse& response = outcome.value();
  if (response.status >= 200 && response.status < 300) return Next::finish;
  const std::string code = serviceErrorCode(response);
  const int status = response.status;
  if ((status == 400 || status == 401 || status == 403) && isClockSkewErrorCode(code)) {
    // Only a corrected clock makes a second signature worth sending.
    return options.skew && options.skew(response.headers) ? Next::retryNow : Next::finish;
  }
  if (status >= 400 && status < 500 && isRefusedCredentialsErrorCode(code)) {
    // A service that restarted or revoked them no longer knows the
    // credentials; fresh ones are worth one more signature, not more.
    if (signature.renewed || signature.accessKeyId.empty() || !options.refusedCredentials) {
      return Next::finish;
    }
    signature.renewed = true;
    return options.refusedCredentials(signature.accessKeyId) ? Next::retryNow : Next::finish;
  }
  if (status == 503 || status == 429) return Next::retryLater;
  // A server or gateway failure may come after the request was handled.
  if (status == 500 || status == 502 || status == 504) {
    return idempotent ? Next::retryLater : Next::finish;
  }
  return isTransientErrorCode(code) ? Next::retryLater : Next::finish;
}

}  // namespace

class RetryingTransport::Operation final : public Cancellable,
                                           public std::enable_shared_from_this<Operation> {
 public:
  Operation(std::shared_ptr<const Shared> shared, HttpRequest request, ResponseCallback done,
            ProgressCallback progress)
      : shared_(std::move(shared)),
        request_(std::move(request)),
        done_(std::move(done)),
        progress_(std::move(progress)) {}

  void start() { attempt(); }

  void cancel() override {
    std::unique_lock lock(mutex_);
    if (finished_ || cancelled_) return;
    cancelled_ = true;
    std::shared_ptr<Cancellable> current = current_;
    if (phase_ == Phase::sending) {
      // The inner transport completes the attempt as cancelled; that outcome
      // is the one handed on.
      lock.unlock();
      if (current) current->cancel();
      return;
    }
    finished_ = true;
    ResponseCallback done = std::move(done_);
    lock.unlock();
    if (current) current->cancel();
    deliverLater(std::move(done),
                 makeTransportError(kTransportCancelled, "The request was cancelled"));
  }

 private:
  enum class Phase { preparing, sending, waiting };

  void attempt() {
    const auto& prepare = shared_->options.prepare;
    if (!prepare) {
      sendAttempt(request_);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      phase_ = Phase::preparing;
      current_.reset();
    }
    prepare(request_, [self = shared_from_this()](detail::Result<HttpRequest> prepared) {
      self->onPrepared(std::move(prepared));
    });
  }

  void onPrepared(detail::Result<HttpRequest> prepared) {
    std::unique_lock lock(mutex_);
    if (finished_ || cancelled_) return;
    if (!prepared.ok()) {
      finished_ = true;
      ResponseCallback done = std::move(done_);
      lock.unlock();
      // The hook may have answered inline from send(); never complete there.
      deliverLater(std::move(done), prepared.error());
      return;
    }
    lock.unlock();
    sendAttempt(std::move(prepared).value());
  }

  void sendAttempt(HttpRequest request) {
    {
      std::lock_guard lock(mutex_);
      if (finished_ || cancelled_) return;
      phase_ = Phase::sending;
      current_.reset();
      signature_.accessKeyId = signingAccessKeyId(request);
    }
    auto handle = shared_->inner->send(
        std::move(request),
        [self = shared_from_this()](detail::Result<HttpResponse> outcome) {
          self->onOutcome(std::move(outcome));
        },
        progress_);
    std::unique_lock lock(mutex_);
    if (cancelled_ && !finished_) {
      lock.unlock();
      handle->cancel();  // cancel() ran before the handle was known
      return;
    }
    if (!finished_ && phase_ == Phase::sending) current_ = std::move(handle);
  }

  void onOutcome(detail::Result<HttpResponse> outcome) {
    std::unique_lock lock(mutex_);
    if (finished_) return;
    current_.reset();
    const Next next = cancelled_
                          ? Next::finish
                          : classify(outcome, shared_->options, request_.idempotent, signature_);
    if (next == Next::finish || attempts_ >= shared_->options.maxAttempts) {
      finished_ = true;
      ResponseCallback done = std::move(done_);
      lock.unlock();
      if (done) done(std::move(outcome));
      return;
    }
    const int retry = attempts_++;
    if (next == Next::retryNow) {
      lock.unlock();
      attempt();
      return;
    }
    phase_ = Phase::waiting;
    current_ = shared_->options.scheduler(shared_->backoff(retry),
                                          [self = shared_from_this()] { self->afterBackoff(); });
  }

  void afterBackoff() {
    {
      std::lock_guard lock(mutex_);
      if (finished_ || cancelled_) return;
    }
    attempt();
  }

  void deliverLater(ResponseCallback done, Error error) {
    if (!done) return;
    shared_->options.scheduler(std::chrono::milliseconds(0),
                               [done = std::move(done), error = std::move(error)] { done(error); });
  }

  std::shared_ptr<const Shared> shared_;
  HttpRequest request_;
  ResponseCallback done_;
  ProgressCallback progress_;

  std::mutex mutex_;
  Phase phase_ = Phase::preparing;
  bool cancelled_ = false;
  bool finished_ = false;
  int attempts_ = 1;
  RetrySignature signature_;
  std::shared_ptr<Cancellable> current_;
};

RetryingTransport::RetryingTransport(std::shared_ptr<HttpTransport> inner, RetryOptions options) {
  if (!options.random) {
    auto engine = std::make_shared<std::mt19937_64>(std::random_device{}());
    auto mutex = std::make_shared<std::mutex>();
    options.random = [engine, mutex] {
      std::lock_guard lock(*mutex);
      return std::uniform_real_distribution<double>(0.0, 1.0)(*engine);
    };
  }
  if (!options.scheduler) options.scheduler = defaultRetryScheduler();
  options.maxAttempts = std::max(1, options.maxAttempts);
  shared_ = std::make_shared<const Shared>(Shared{std::move(inner), std::move(options)});
}

std::shared_ptr<Cancellable> RetryingTransport::send(HttpRequest request, ResponseCallback done,
                                                     ProgressCallback progress) {
  auto operation = std::make_shared<Operation>(shared_, std::move(request), std::move(done),
                                               std::move(progress));
  operation->start();
  return operation;
}

std::chrono::milliseconds RetryingTransport::backoff(int retry) const {
  return shared_->backoff(retry);
}

namespace {

class WorkItemHandle final : public Cancellable {
 public:
  explicit WorkItemHandle(std::shared_ptr<DispatchWorkItem> item) : item_(std::move(item)) {}
  void cancel() override { item_->cancel(); }

 private:
  std::shared_ptr<DispatchWorkItem> item_;
};

std::mutex& timerMutex() {
  static std::mutex mutex;
  return mutex;
}

// Immortal like the transport; shutdownRetryScheduler() joins its thread.
std::shared_ptr<MainQueue>& timerQueue() {
  static auto* queue = new std::shared_ptr<MainQueue>();
  return *queue;
}

std::shared_ptr<MainQueue> currentTimer() {
  std::lock_guard lock(timerMutex());
  auto& queue = timerQueue();
  if (!queue) queue = MainQueue::startOnOwnThread();
  return queue;
}

}  // namespace

Scheduler defaultRetryScheduler() {
  return [](std::chrono::milliseconds delay, std::function<void()> work) {
    auto item = std::make_shared<DispatchWorkItem>(std::move(work));
    currentTimer()->asyncAfter(delay, item);
    return std::make_shared<WorkItemHandle>(std::move(item));
  };
}

void shutdownRetryScheduler() {
  std::shared_ptr<MainQueue> queue;
  {
    std::lock_guard lock(timerMutex());
    queue = std::move(timerQueue());
    timerQueue().reset();
  }
  if (queue) queue->stop();
}

}  // namespace corvenza::http
