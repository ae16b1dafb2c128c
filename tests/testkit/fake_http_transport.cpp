#include "testkit/fake_http_transport.h"

#include <utility>

namespace corvenza::test {

class FakeHttpTransport::Handle final : public http::Cancellable {
 public:
  Handle(std::weak_ptr<FakeHttpTransport> owner, std::uint64_t id)
      : owner_(std::move(owner)), id_(id) {}
  void cancel() override {
    if (auto owner = owner_.lock()) owner->cancel(id_);
  }

 private:
  std::weak_ptr<FakeHttpTransport> owner_;
  std::uint64_t id_;
};

std::shared_ptr<FakeHttpTransport> FakeHttpTransport::create(Mode mode) {
  return std::shared_ptr<FakeHttpTransport>(new FakeHttpTransport(mode));
}

FakeHttpTransport::FakeHttpTransport(Mode mode) : mode_(mode) {
  if (mode_ == Mode::threaded) thread_ = std::thread([this] { run(); });
}

FakeHttpTransport::~FakeHttpTransport() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::shared_ptr<http::Cancellable> FakeHttpTransport::send(http::HttpRequest request,
                                                           http::ResponseCallback done,
                                                           http::ProgressCallback progress) {
  std::uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    id = nextId_++;
    requests_.push_back(request);
    progress_.push_back(std::move(progress));
    if (responder_) {
      Outcome outcome = responder_(request);
      enqueueLocked([done = std::move(done), outcome = std::move(outcome)] { done(outcome); });
    } else {
      unanswered_.push_back(Pending{id, std::move(done)});
    }
  }
  changed_.notify_all();
  return std::make_shared<Handle>(weak_from_this(), id);
}

void FakeHttpTransport::reportProgress(std::size_t index, const http::TransferProgress& progress) {
  http::ProgressCallback listener;
  {
    std::lock_guard lock(mutex_);
    if (index < progress_.size()) listener = progress_[index];
  }
  if (listener) listener(progress);
}

void FakeHttpTransport::forgetUnanswered() {
  std::deque<Pending> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(unanswered_);
    for (auto& listener : progress_) listener = nullptr;
  }
}

void FakeHttpTransport::enqueueLocked(std::function<void()> completion) {
  completions_.push_back(std::move(completion));
}

void FakeHttpTransport::cancel(std::uint64_t id) {
  {
    std::lock_guard lock(mutex_);
    for (auto it = unanswered_.begin(); it != unanswered_.end(); ++it) {
      if (it->id != id) continue;
      ++cancels_;
      enqueueLocked([done = std::move(it->done)] {
        done(http::makeTransportError(http::kTransportCancelled, "The request was cancelled"));
      });
      unanswered_.erase(it);
      break;
    }
  }
  changed_.notify_all();
}

std::vector<http::HttpRequest> FakeHttpTransport::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t FakeHttpTransport::unansweredCount() const {
  std::lock_guard lock(mutex_);
  return unanswered_.size();
}

std::size_t FakeHttpTransport::cancelCount() const {
  std::lock_guard lock(mutex_);
  return cancels_;
}

void FakeHttpTransport::respond(Outcome outcome) {
  {
    std::lock_guard lock(mutex_);
    if (unanswered_.empty()) return;
    auto done = std::move(unanswered_.front().done);
    unanswered_.pop_front();
    enqueueLocked([done = std::move(done), outcome = std::move(outcome)] { done(outcome); });
  }
  changed_.notify_all();
}

void FakeHttpTransport::respond(int status, std::string body, http::HttpHeaders headers) {
  respond(Outcome(http::HttpResponse{status, std::move(headers), std::move(body)}));
}

void FakeHttpTransport::fail(int transportCode) {
  respond(Outcome(http::makeTransportError(transportCode, "Scripted transport failure")));
}

void FakeHttpTransport::setResponder(Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

std::size_t FakeHttpTransport::deliver() {
  std::size_t ran = 0;
  for (;;) {
    std::function<void()> next;
    {
      std::lock_guard lock(mutex_);
      if (completions_.empty()) return ran;
      next = std::move(completions_.front());
      completions_.pop_front();
    }
    next();
    ++ran;
  }
}

bool FakeHttpTransport::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

void FakeHttpTransport::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !completions_.empty(); });
    if (stopping_) return;
    auto next = std::move(completions_.front());
    completions_.pop_front();
    lock.unlock();
    next();
    lock.lock();
  }
}

}  // namespace corvenza::test
