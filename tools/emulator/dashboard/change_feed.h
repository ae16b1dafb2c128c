#pragma once
// The dashboard's live feed: the estimation store's changes as server-sent
// events.
//
// The emulator's server answers with whole responses, so each response of
// the stream carries one batch: a browser's request is held until a change
// comes (or a quiet while passes), answered with the events it has not seen,
// and the browser's EventSource reconnects at once with Last-Event-ID. Recent
// events are kept so that nothing is lost between two requests; a browser
// too far behind, or one that saw another emulator run, is told to reload.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/service.h"

namespace corvenza::emulator::dashboard {

class ChangeFeed {
 public:
  /// Events kept for browsers that reconnect.
  static constexpr std::size_t kKeptEvents = 256;
  /// Browsers waiting at once; past this the longest waiting is answered early.
  static constexpr std::size_t kMaxWaiting = 64;
  static constexpr std::chrono::milliseconds kDefaultHold{15'000};
  /// What the browser is told to wait before reconnecting.
  static constexpr std::chrono::milliseconds kReconnectDelay{250};

  /// A held request is answered, empty, after @p hold without a change.
  explicit ChangeFeed(std::chrono::milliseconds hold = kDefaultHold);
  /// close()s.
  ~ChangeFeed();
  ChangeFeed(const ChangeFeed&) = delete;
  ChangeFeed& operator=(const ChangeFeed&) = delete;

  /// Records an event of @p type with JSON text @p data and answers every
  /// waiting request. Thread-safe; does nothing once closed.
  void publish(std::string type, std::string data);

  /// The id of the latest event ("<run>-<sequence>"): a page embeds it so its
  /// stream starts exactly where the page's content was read.
  std::string position() const;

  /// Answers @p respond with the events after @p after (an id from
  /// position() or from an event), at once when there are some, else when
  /// the next one comes or the hold time passes. An id of another run, one
  /// ahead of this feed or one older than the kept events gets a "reset"
  /// event at once. Without @p after the stream starts now.
  void subscribe(std::optional<std::string_view> after, Service::Responder respond);

  /// Answers every waiting request with 204 (which ends a browser's stream)
  /// and every later one the same way; joins the timer thread. Idempotent.
  void close();

  /// Requests being held; for tests.
  std::size_t waitingCount() const;

 private:
  struct Kept {
    std::uint64_t sequence;
    std::string type;
    std::string data;
  };
  struct Waiter {
    std::chrono::steady_clock::time_point deadline;
    std::uint64_t after;
    Service::Responder respond;
  };
  using Answer = std::pair<Service::Responder, Response>;

  std::string idOf(std::uint64_t sequence) const;
  /// Where a browser stands: its sequence, or nothing when it must reset.
  std::optional<std::uint64_t> resolve(std::string_view after) const;
  Response eventsAfter(std::uint64_t after) const;
  Response resetResponse() const;
  Response quietResponse() const;
  void expireWaiters();

  const std::chrono::milliseconds hold_;
  const std::string run_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Kept> kept_;
  std::uint64_t sequence_ = 0;
  std::vector<Waiter> waiting_;
  bool closed_ = false;
  std::thread timer_;
};

/// A response of @p status with content type text/event-stream and @p body.
Response eventStreamResponse(std::string body, int status = 200);

}  // namespace corvenza::emulator::dashboard
