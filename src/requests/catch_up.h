#pragma once
// The changes made while the real-time connection was down. While a client
// has listeners it keeps what it knows of its user's requests (the last read
// of them all, and the events since); when a subscription starts again after
// a drop, it reads them all once more and hands on what was created, changed
// or deleted in the gap, before the live events that arrived meanwhile.

#include <corvenza/estimation.h>
#include <corvenza/request_callbacks.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace corvenza::requests {

class ClientState;

/// What the client knows of one request.
struct KnownRequest {
  std::string status;
  /// Every field a read of it gives; empty after an event, which carries
  /// the status only.
  std::string fingerprint;
};
using KnownRequests = std::map<std::string, KnownRequest>;
using Records = std::vector<std::shared_ptr<EstimationRequest>>;

struct CaughtUpChange {
  EstimationEventKind kind;
  std::shared_ptr<EstimationRequest> record;
};

/// Every field of @p record that a read gives, as one text.
std::string fingerprintOf(const EstimationRequest& record);
/// What @p now (a read of every request) says that @p known does not: a
/// request not known is created, one whose fields (or, known from an event
/// only, whose status) differ is updated, one known but not read is deleted.
std::vector<CaughtUpChange> changesBetween(const KnownRequests& known, const Records& now);

/// One client's record of its user's requests, and its catch-ups. Its
/// methods run on the client's main queue, except stopped(); thread-safe.
class CatchUp {
 public:
  using State = std::shared_ptr<ClientState>;

  /// The service acknowledged @p kind's subscription. Its first start reads
  /// the requests to know them; a start again (after a drop) catches up.
  void started(const State& state, EstimationEventKind kind);
  /// A live event for the listeners of @p kind: false when it is to be
  /// delivered now, true when it is held until the catch-up in progress has
  /// delivered what it found.
  bool holdLive(const State& state, EstimationEventKind kind,
                const std::shared_ptr<EstimationRequest>& record);
  /// @p kind's subscription ended; when none is left, everything known is
  /// forgotten and a read in progress dropped.
  void stopped(EstimationEventKind kind);

 private:
  enum class Reading { none, baseline, catchUp };
  struct Live {
    EstimationEventKind kind;
    std::shared_ptr<EstimationRequest> record;
  };

  void read(const State& state, std::uint64_t generation);
  void restart(const State& state);
  void finish(const State& state, std::uint64_t generation, std::optional<Records> now);
  void note(const Live& event);
  // Reads the requests events changed, so that what is known of them is
  // every field again, not the status alone.
  void refresh(const State& state);

  std::mutex mutex_;
  KnownRequests known_;
  bool haveKnown_ = false;
  std::array<bool, 3> startedBefore_{};
  Reading reading_ = Reading::none;
  bool again_ = false;                   // a catch-up asked for while reading
  int retries_ = 0;                      // of a catch-up whose read failed
  std::vector<Live> held_;               // live events during a catch-up
  std::vector<Live> heardWhileReading_;  // the read may predate them
  std::set<std::string> stale_;          // known from an event only
  std::set<std::string> refreshing_;     // read for that now
  std::uint64_t generation_ = 0;         // reset() makes reads in flight stale
};

}  // namespace corvenza::requests
