// corvenza watch: prints the signed-in user's request changes as they happen.

#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

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
  bool json = false;
};

struct WatchState {
  int events = 0;
  bool failed = false;
};

// Counts the kinds the service acknowledged: until one is, nothing is watched.
class StartCounter final : public CorvenzaEnterpriseDelegate {
 public:
  void estimationProgressDidChange(EstimationProgressType) override {}
  void estimationSubscriptionDidStart(EstimationEventKind) override { ++started; }
  int started = 0;
};

int runWatch(const GlobalOptions& global, WatchOptions options) {
  if (!options.create && !options.update && !options.remove) {
    options.create = options.update = options.remove = true;
  }
  auto session = Session::start(global);
  if (!session) return kExitFailure;
  auto state = std::make_shared<WatchState>();
  auto starts = std::make_shared<StartCounter>();
  CorvenzaEnterprise::shared().setDelegate(starts);
  auto listener = [state, json = options.json](const char* kind) -> RequestCallback {
    return [state, json, kind](std::shared_ptr<EstimationRequest> record,
                               std::optional<Errors> errors) {
      if (errors) {
        printErrors(*errors);
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
  auto done = [&] {
    return state->failed || (options.count > 0 && state->events >= options.count);
  };
  // Without a limit, wait as long as a process reasonably can.
  const auto limit = options.timeout > 0 ? std::chrono::seconds(options.timeout)
                                         : std::chrono::seconds(365LL * 24 * 3600);
  session->runUntil(done, limit);
  CorvenzaEnterprise::unsubscribeAll();
  if (state->failed) return kExitFailure;
  if (starts->started == 0) {
    std::cerr << "corvenza: never subscribed: " << serviceHost()
              << " did not accept the subscription within " << options.timeout << " s\n";
    return kExitFailure;
  }
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
  command->add_option("--count", options->count, "Stop after this many events")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--timeout", options->timeout, "Stop after this many seconds")
      ->check(CLI::NonNegativeNumber);
  command->add_flag("--json", options->json, "One JSON object per line");
  command->callback([=, &exitCode] { exitCode = runWatch(*global, *options); });
}

}  // namespace corvenza::cli
