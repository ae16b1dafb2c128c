// corvenza watch: prints the signed-in user's request changes as they happen.

#include <algorithm>
#include <chrono>
#include <iostream>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <utility>

#include "cli_session.h"
#include "commands.h"
#include "error_words.h"

namespace corvenza::cli {

namespace {

struct WatchOptions {
  bool create = false;
  bool update = false;
  bool remove = false;
  int count = 0;    // 0: until the time limit
  int timeout = 0;  // seconds; 0: no limit
  // Seconds the service has to acknowledge the subscription (at most timeout).
  int subscribeTimeout = 30;
  bool json = false;
};

struct WatchState {
  int events = 0;
  bool failed = false;
};

// The kinds the service acknowledged: until one is, its events are not watched.
class StartCounter final : public CorvenzaEnterpriseDelegate {
 public:
  void estimationProgressDidChange(EstimationProgressType) override {}
  void estimationSubscriptionDidStart(EstimationEventKind kind) override { started.insert(kind); }
  std::set<EstimationEventKind> started;
};

// The real-time connection's changes, on standard error: words, or one JSON
// object each with --json. The first connection is not news, and after a
// failure the watch ends, having said why.
ConnectionStateListener connectionPrinter(bool json, std::shared_ptr<const WatchState> watch) {
  return [json, watch, seen = std::make_shared<bool>(false)](const RealtimeConnectionState& state) {
    using Phase = RealtimeConnectionState::Phase;
    if (!std::exchange(*seen, true) && state.phase == Phase::connecting) return;
    if (watch->failed) return;
    const auto why = state.error ? state.error->localizedDescription() : std::string();
    if (json) {
      nlohmann::ordered_json line{{"connection", toString(state.phase)}};
      if (state.phase == Phase::reconnecting) {
        line["attempt"] = state.attempt;
        line["delayMs"] = state.nextDelay.count();
      }
      if (!why.empty()) line["error"] = why;
      std::cerr << line.dump() << std::endl;
      return;
    }
    std::cerr << "corvenza: real-time connection " << toString(state.phase);
    if (state.phase == Phase::reconnecting) {
      std::cerr << " (attempt " << state.attempt << " in " << state.nextDelay.count() << " ms)";
    }
    if (!why.empty()) std::cerr << ": " << why;
    std::cerr << std::endl;
  };
}

int runWatch(const GlobalOptions& global, WatchOptions options) {
  if (!options.create && !options.update && !options.remove) {
    options.create = options.update = options.remove = true;
  }
  auto session = Session::start(global);
  if (!session) return kExitFailure;
  auto state = std::make_shared<WatchState>();
  CorvenzaEnterprise::shared().setConnectionStateListener(connectionPrinter(options.json, state));
  auto starts = std::make_shared<StartCounter>();
  CorvenzaEnterprise::shared().setDelegate(starts);
  auto listener = [state, json = options.json](const char* kind) -> RequestCallback {
    return [state, json, kind](std::shared_ptr<EstimationRequest> record,
                               std::optional<Errors> errors) {
      if (errors) {
        // Every kind hears of one failed sign-in or connection: say it once.
        if (!state->failed) printErrors(*errors);
        state->failed = true;
        return;
      }
      if (!record) return;
      const auto id = record->id.value_or("");
      const auto status = record->status ? record->status->rawValue() : std::string();
      if (json) {
        std::cout << nlohmann::ordered_json{{"kind", kind}, {"id", id}, {"status", status}}.dump()
                  << std::endl;
      } else {
        std::cout << kind << " " << id << " " << status << std::endl;
      }
      ++state->events;
    };
  };
  const std::string name = "corvenza-watch";
  if (options.create) {
    CorvenzaEnterprise::subscribeCreationOfEstimationRequests(listener("create"), name);
  }
  if (options.update) {
    CorvenzaEnterprise::subscribeUpdateOfEstimationRequests(listener("update"), name);
  }
  if (options.remove) {
    CorvenzaEnterprise::subscribeDeletionOfEstimationRequesets(listener("delete"), name);
  }
  const auto kinds = static_cast<std::size_t>(options.create + options.update + options.remove);
  auto done = [&] {
    return state->failed || (options.count > 0 && state->events >= options.count);
  };
  // A service that is down never acknowledges: that is said within its own
  // bound, whether or not the watch as a whole has one.
  const auto started = std::chrono::steady_clock::now();
  const int subscribeLimit = options.timeout > 0
                                 ? std::min(options.timeout, options.subscribeTimeout)
                                 : options.subscribeTimeout;
  session->runUntil([&] { return done() || starts->started.size() == kinds; },
                    std::chrono::seconds(subscribeLimit));
  if (!state->failed && starts->started.empty()) {
    CorvenzaEnterprise::unsubscribeAll();
    std::cerr << "corvenza: never subscribed: " << serviceHost()
              << " did not accept the subscription within " << subscribeLimit << " s\n";
    return kExitFailure;
  }
  // Without a limit, wait as long as a process reasonably can.
  const auto limit = options.timeout > 0 ? std::chrono::seconds(options.timeout)
                                         : std::chrono::seconds(365LL * 24 * 3600);
  session->runUntil(done, std::chrono::ceil<std::chrono::seconds>(
                              limit - (std::chrono::steady_clock::now() - started)));
  CorvenzaEnterprise::unsubscribeAll();
  if (state->failed) return kExitFailure;
  if (options.count > 0 && state->events < options.count) {
    std::cerr << "corvenza: " << state->events << " of " << options.count << " events within "
              << options.timeout << " s\n";
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

void addWatchCommand(CLI::App& app, int& exitCode) {
  auto global = std::make_shared<GlobalOptions>();
  auto options = std::make_shared<WatchOptions>();
  auto* command = app.add_subcommand("watch", "Print request changes as they happen");
  addGlobalOptions(*command, *global);
  command->add_flag("--create", options->create, "Creations (all kinds when none is chosen)");
  command->add_flag("--update", options->update, "Updates");
  command->add_flag("--delete", options->remove, "Deletions");
  command
      ->add_option("--count", options->count,
                   "Stop after this many events (0, the default: no limit)")
      ->check(wholeNumber(0, std::numeric_limits<int>::max()));
  command
      ->add_option("--timeout", options->timeout,
                   "Stop after this many seconds (0, the default: no limit)")
      ->check(wholeNumber(0, std::numeric_limits<int>::max(), "seconds"));
  command
      ->add_option("--subscribe-timeout", options->subscribeTimeout,
                   "Fail unless the service accepts the subscription within this many seconds")
      ->check(wholeNumber(1, std::numeric_limits<int>::max(), "seconds"));
  command->add_flag("--json", options->json, "One JSON object per line");
  command->callback([=, &exitCode] { exitCode = runWatch(*global, *options); });
}

}  // namespace corvenza::cli
