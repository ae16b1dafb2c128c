// corvenza queue: creations stored first and run later, surviving failures
// and restarts. add stores, run sends, list shows, drop removes.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cli_session.h"
#include "commands.h"
#include "error_words.h"
#include "parameter_options.h"

namespace corvenza::cli {

namespace {

/// Exit status of a run that left entries unfinished (the service could not
/// be reached): try again later.
constexpr int kExitTryAgain = 75;

struct QueueOptions {
  GlobalOptions global;
  ParameterOptions parameter;
  int jobs = 2;
  int giveUpAfter = 6;
  int stepTimeout = 45;
  std::string queueId;
  bool json = false;
};

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

/// A stable short name for an account, so each user of each service has a
/// folder of their own.
std::string accountKey(const std::string& account) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : account) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

/// $CORVENZA_QUEUE_DIR, else "queue" beside the token store.
std::filesystem::path queueRoot() {
  if (auto dir = env("CORVENZA_QUEUE_DIR"); !dir.empty()) return dir;
  if (auto dir = env("CORVENZA_KEYCHAIN_DIR"); !dir.empty()) {
    return std::filesystem::path(dir) / "queue";
  }
  if (auto dir = env("XDG_DATA_HOME"); !dir.empty()) {
    return std::filesystem::path(dir) / "corvenza" / "queue";
  }
  if (auto home = env("HOME"); !home.empty()) {
    return std::filesystem::path(home) / ".local" / "share" / "corvenza" / "queue";
  }
  return {};
}

/// The session and the queue of its account; nothing after saying why.
struct OpenQueue {
  std::unique_ptr<Session> session;
  std::shared_ptr<CreationQueue> queue;
};

std::optional<OpenQueue> openQueue(const QueueOptions& options) {
  const auto root = queueRoot();
  if (root.empty()) {
    std::cerr << "corvenza: no folder for the queue (set CORVENZA_QUEUE_DIR or HOME)\n";
    return std::nullopt;
  }
  std::filesystem::path folder;
  auto session = Session::startClient(options.global, [&](const std::string& account) {
    folder = root / accountKey(account);
    return folder / "cache";
  });
  if (!session) return std::nullopt;
  CreationQueueOptions queueOptions;
  queueOptions.directory = folder;
  queueOptions.concurrency = options.jobs;
  queueOptions.stepTimeout = std::chrono::seconds(options.stepTimeout);
  try {
    auto queue = CreationQueue::open(session->client(), queueOptions);
    return OpenQueue{std::move(session), std::move(queue)};
  } catch (const CorvenzaException& e) {
    printErrors({e.error()});
    return std::nullopt;
  }
}

/// A failed entry's request stays on the service without its photos, unless
/// the failure was that the service no longer holds it.
std::string leftOnService(const QueuedCreation& entry) {
  if (entry.state != QueuedCreationState::failed || !entry.requestId) return {};
  if (entry.lastError && entry.lastError->domain() == kCreationQueueErrorDomain &&
      entry.lastError->code() == static_cast<int>(CreationQueueErrorCode::requestGone)) {
    return {};
  }
  return "; request " + *entry.requestId + " stays on the service unfinished (corvenza delete " +
         *entry.requestId + " removes it)";
}

/// What an entry's latest error says, in the words of the tool's messages.
std::string errorWords(const QueuedCreation& entry) {
  if (!entry.lastError) return {};
  return describeError(*entry.lastError, {entry.requestId.value_or("")});
}

nlohmann::ordered_json entryJson(const QueuedCreation& entry) {
  nlohmann::ordered_json json = {{"queueId", entry.queueId},
                                 {"state", std::string(toString(entry.state))}};
  if (entry.requestId) json["requestId"] = *entry.requestId;
  if (entry.lastError) {
    json["lastError"] = {{"domain", entry.lastError->domain()},
                         {"code", entry.lastError->code()},
                         {"message", entry.lastError->localizedDescription()}};
  }
  if (!leftOnService(entry).empty()) json["requestLeftOnService"] = true;
  json["failedAttempts"] = entry.failedAttempts;
  json["enqueuedAt"] =
      std::chrono::duration_cast<std::chrono::seconds>(entry.enqueuedAt.time_since_epoch()).count();
  return json;
}

int runAdd(const QueueOptions& options) {
  auto parameter = loadParameter(options.parameter);
  if (!parameter) return kExitUsage;
  auto opened = openQueue(options);
  if (!opened) return kExitFailure;
  try {
    const auto id = opened->queue->enqueue(*parameter);
    if (options.json) {
      std::cout << nlohmann::ordered_json{{"queueId", id}, {"state", "pending"}}.dump() << "\n";
    } else {
      std::cout << id << "\n";
    }
    return kExitOk;
  } catch (const CorvenzaException& e) {
    printErrors({e.error()});
    return kExitFailure;
  }
}

/// Tells on standard error what each entry does; on a terminal each upload
/// shows as a bar redrawn in place.
class RunReporter {
 public:
  explicit RunReporter(bool terminal) : terminal_(terminal) {}

  void changed(const QueuedCreation& entry) {
    endBar();
    std::cerr << entry.queueId << ": ";
    if (entry.state == QueuedCreationState::failed && entry.lastError) {
      std::cerr << "failed: " << errorWords(entry) << leftOnService(entry) << "\n";
    } else if (entry.lastError) {
      std::cerr << toString(entry.state) << ", will retry after: " << errorWords(entry) << "\n";
    } else {
      std::cerr << toString(entry.state);
      if (entry.requestId) std::cerr << " (request " << *entry.requestId << ")";
      std::cerr << "\n";
    }
  }

  void uploaded(const std::string& queueId, bool front, std::uint64_t sent, std::uint64_t total) {
    if (!terminal_) return;
    bar_.draw(queueId + (front ? " front " : " side  "), sent, total);
    if (sent == total) bar_.end();
  }

  void endBar() { bar_.end(); }

 private:
  bool terminal_;
  ProgressLine bar_;
};

int runRun(const QueueOptions& options) {
  auto opened = openQueue(options);
  if (!opened) return kExitFailure;
  auto reporter = std::make_shared<RunReporter>(isatty(STDERR_FILENO));
  opened->queue->addListener("corvenza-queue-run",
                             [reporter](const QueuedCreation& entry) { reporter->changed(entry); });
  opened->queue->setUploadListener(
      [reporter](const std::string& id, bool front, std::uint64_t sent, std::uint64_t total) {
        reporter->uploaded(id, front, sent, total);
      });
  std::optional<CreationQueueRunSummary> summary;
  CreationQueueRunLimits limits;
  limits.maxConsecutiveFailures = options.giveUpAfter;
  opened->queue->run(limits, [&summary](CreationQueueRunSummary s) { summary = s; });
  opened->session->runUntil([&] { return summary.has_value(); }, std::chrono::hours(24 * 365));
  reporter->endBar();
  opened->queue->removeListener("corvenza-queue-run");
  if (!summary) return kExitFailure;
  if (summary->runningElsewhere) {
    std::cerr << "corvenza: another process is running this queue\n";
    return kExitTryAgain;
  }
  if (summary->stopReason) {
    // Entries wait for the user to mend the cause; another run now would stop the same way.
    printErrors({*summary->stopReason});
    std::cerr << "corvenza: the run stopped; " << summary->unfinished
              << " queued creation(s) are kept with their photos: mend the cause above, then run "
                 "`corvenza queue run` again\n";
  }
  if (options.json) {
    nlohmann::ordered_json out = {{"done", summary->done},
                                  {"failed", summary->failed},
                                  {"unfinished", summary->unfinished},
                                  {"entries", nlohmann::ordered_json::array()}};
    for (const auto& entry : opened->queue->entries()) out["entries"].push_back(entryJson(entry));
    std::cout << out.dump() << "\n";
  } else {
    std::cout << "done " << summary->done << ", failed " << summary->failed << ", unfinished "
              << summary->unfinished << "\n";
  }
  if (summary->stopReason) return kExitFailure;
  if (summary->unfinished > 0) return kExitTryAgain;
  return summary->failed > 0 ? kExitFailure : kExitOk;
}

int runList(const QueueOptions& options) {
  auto opened = openQueue(options);
  if (!opened) return kExitFailure;
  const auto entries = opened->queue->entries();
  if (options.json) {
    auto out = nlohmann::ordered_json::array();
    for (const auto& entry : entries) out.push_back(entryJson(entry));
    std::cout << out.dump() << "\n";
    return kExitOk;
  }
  for (const auto& entry : entries) {
    std::cout << entry.queueId << "  " << toString(entry.state) << "  "
              << entry.requestId.value_or("-");
    if (entry.lastError) std::cout << "  " << errorWords(entry) << leftOnService(entry);
    std::cout << "\n";
  }
  return kExitOk;
}

int runDrop(const QueueOptions& options) {
  auto opened = openQueue(options);
  if (!opened) return kExitFailure;
  try {
    if (!opened->queue->drop(options.queueId)) {
      std::cerr << "corvenza: no queued creation " << options.queueId << "\n";
      return kExitFailure;
    }
  } catch (const CorvenzaException& e) {
    printErrors({e.error()});
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

void addQueueCommand(CLI::App& app, int& exitCode) {
  auto* queue = app.add_subcommand(
      "queue", "Store creations now and send them later; they survive failures and restarts");
  queue->require_subcommand(1);
  // Each subcommand parses into options of its own: CLI11 applies the
  // environment fallback of every subcommand, used or not, so one shared
  // object would have the flags of the one used overwritten.
  const auto subcommand = [&](const char* name, const char* help,
                              int (*runner)(const QueueOptions&)) {
    auto options = std::make_shared<QueueOptions>();
    auto* command = queue->add_subcommand(name, help);
    addGlobalOptions(*command, options->global);
    command->callback([options, runner, &exitCode] { exitCode = runner(*options); });
    return std::make_pair(command, options);
  };

  auto [add, addOptions] =
      subcommand("add", "Store a creation (photos prepared); sends nothing", runAdd);
  addParameterOptions(*add, addOptions->parameter);
  add->add_flag("--json", addOptions->json, "Print {\"queueId\", \"state\"}");

  auto [run, runOptions] = subcommand(
      "run",
      "Run every unfinished creation to its end. Exit 0 all done, 1 some failed, 75 some left "
      "unfinished (the service could not be reached; run again later)",
      runRun);
  run->add_option("--jobs", runOptions->jobs, "Creations that run at once")
      ->check(wholeNumber(1, 64));
  run->add_option("--give-up-after", runOptions->giveUpAfter,
                  "Failures in a row (network, time-outs, 5xx) after which a creation is left "
                  "for a later run")
      ->check(wholeNumber(1, 1000));
  run->add_option("--step-timeout", runOptions->stepTimeout, "Seconds each network step may take")
      ->check(wholeNumber(1, 600, "seconds"));
  run->add_flag("--json", runOptions->json, "Print the outcome and every entry as JSON");

  auto [list, listOptions] =
      subcommand("list", "Print every queued creation and its state", runList);
  list->add_flag("--json", listOptions->json, "Print a JSON array");

  auto [drop, dropOptions] = subcommand("drop", "Remove a queued creation and its photos", runDrop);
  drop->add_option("ID", dropOptions->queueId, "Queue id")->required();
}

}  // namespace corvenza::cli
