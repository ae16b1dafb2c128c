#include "dashboard/change_feed.h"

#include <algorithm>
#include <charconv>

#include "base/random.h"
#include "dashboard/server_sent_events.h"

namespace corvenza::emulator::dashboard {

Response eventStreamResponse(std::string body, int status) {
  Response response;
  response.status = status;
  response.headers.emplace_back("Content-Type", "text/event-stream; charset=utf-8");
  response.headers.emplace_back("Cache-Control", "no-store");
  response.body = std::move(body);
  return response;
}

ChangeFeed::ChangeFeed(std::chrono::milliseconds hold)
    : hold_(hold), run_(randomString(8, "0123456789abcdef")) {
  timer_ = std::thread([this] { expireWaiters(); });
}

ChangeFeed::~ChangeFeed() { close(); }

std::string ChangeFeed::idOf(std::uint64_t sequence) const {
  return run_ + "-" + std::to_string(sequence);
}

std::string ChangeFeed::position() const {
  std::lock_guard lock(mutex_);
  return idOf(sequence_);
}

std::size_t ChangeFeed::waitingCount() const {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

std::optional<std::uint64_t> ChangeFeed::resolve(std::string_view after) const {
  const auto dash = after.find('-');
  if (dash == std::string_view::npos || after.substr(0, dash) != run_) return std::nullopt;
  const auto digits = after.substr(dash + 1);
  std::uint64_t sequence = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), sequence);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  if (sequence > sequence_) return std::nullopt;
  // Events after `sequence` must all still be kept.
  const auto oldestKept = kept_.empty() ? sequence_ + 1 : kept_.front().sequence;
  if (sequence + 1 < oldestKept) return std::nullopt;
  return sequence;
}

Response ChangeFeed::eventsAfter(std::uint64_t after) const {
  std::string body = formatRetry(kReconnectDelay);
  for (const auto& event : kept_) {
    if (event.sequence > after) body += formatEvent({idOf(event.sequence), event.type, event.data});
  }
  return eventStreamResponse(std::move(body));
}

Response ChangeFeed::resetResponse() const {
  return eventStreamResponse(formatRetry(kReconnectDelay) +
                             formatEvent({idOf(sequence_), "reset", "{}"}));
}

Response ChangeFeed::quietResponse() const {
  return eventStreamResponse(formatRetry(kReconnectDelay) + formatPosition(idOf(sequence_)));
}

void ChangeFeed::publish(std::string type, std::string data) {
  std::vector<Answer> answers;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    kept_.push_back({++sequence_, std::move(type), std::move(data)});
    while (kept_.size() > kKeptEvents) kept_.pop_front();
    for (auto& waiter : waiting_) {
      answers.emplace_back(std::move(waiter.respond), eventsAfter(waiter.after));
    }
    waiting_.clear();
  }
  // Outside the lock: a responder may run the server's code at once.
  for (auto& [respond, response] : answers) respond(std::move(response));
}

void ChangeFeed::subscribe(std::optional<std::string_view> after, Service::Responder respond) {
  Response immediate;
  bool held = false;
  std::vector<Answer> early;
  {
    std::lock_guard lock(mutex_);
    if (closed_) {
      immediate = eventStreamResponse({}, 204);
    } else {
      const auto from = after ? resolve(*after) : std::optional<std::uint64_t>(sequence_);
      if (!from) {
        immediate = resetResponse();
      } else if (*from < sequence_) {
        immediate = eventsAfter(*from);
      } else {
        if (waiting_.size() >= kMaxWaiting) {
          early.emplace_back(std::move(waiting_.front().respond), quietResponse());
          waiting_.erase(waiting_.begin());
        }
        waiting_.push_back({std::chrono::steady_clock::now() + hold_, *from, std::move(respond)});
        held = true;
        wake_.notify_all();
      }
    }
  }
  for (auto& [waiter, response] : early) waiter(std::move(response));
  if (!held) respond(std::move(immediate));
}

void ChangeFeed::expireWaiters() {
  std::unique_lock lock(mutex_);
  while (!closed_) {
    if (waiting_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto first =
        std::min_element(waiting_.begin(), waiting_.end(),
                         [](const Waiter& a, const Waiter& b) { return a.deadline < b.deadline; });
    if (first->deadline > std::chrono::steady_clock::now()) {
      // A copy: waiting lets others change the vector under the iterator.
      const auto deadline = first->deadline;
      wake_.wait_until(lock, deadline);
      continue;
    }
    auto respond = std::move(first->respond);
    waiting_.erase(first);
    auto response = quietResponse();
    lock.unlock();
    respond(std::move(response));
    lock.lock();
  }
}

void ChangeFeed::close() {
  std::vector<Service::Responder> waiting;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (auto& waiter : waiting_) waiting.push_back(std::move(waiter.respond));
    waiting_.clear();
  }
  wake_.notify_all();
  if (timer_.joinable() && timer_.get_id() != std::this_thread::get_id()) timer_.join();
  for (auto& respond : waiting) respond(eventStreamResponse({}, 204));
}

}  // namespace corvenza::emulator::dashboard
