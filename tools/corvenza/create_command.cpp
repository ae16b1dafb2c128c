// corvenza create: the main job from the command line.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli_session.h"
#include "commands.h"
#include "parameter_options.h"
#include "record_output.h"

namespace corvenza::cli {

namespace {

struct CreateOptions {
  GlobalOptions global;
  ParameterOptions parameter;
  bool wait = false;
  int timeout = 120;
  bool json = false;
};

bool isFinalStatus(const std::string& status) {
  return status == "completed" || status == "failed";
}

bool isFinal(const EstimationRequest& request) {
  return request.status && isFinalStatus(request.status->rawValue());
}

/// Tells on standard error which stage the creation has reached; on a
/// terminal the upload's bytes also show as a bar redrawn in place. A stage
/// that cannot be known to have succeeded yet (an upload whose attach has not
/// answered) is held back until the next step begins or the creation ends, so
/// the lines follow what really happened.
class StageReporter final : public CorvenzaEnterpriseDelegate {
 public:
  explicit StageReporter(bool terminal) : terminal_(terminal) {}

  void estimationProgressDidChange(EstimationProgressType progress) override {
    endBar();
    switch (progress) {
      case EstimationProgressType::none:
        std::cerr << "creating the request\n";
        break;
      case EstimationProgressType::setParameter:
        // Only a created request moves here.
        std::cerr << "uploading and attaching the front photo\n";
        break;
      case EstimationProgressType::putFrontImage:
        // Told whether the front attach succeeded or not: held back.
        held_.push_back("  front photo attached");
        held_.push_back("uploading and attaching the side photo");
        break;
      case EstimationProgressType::putSideImage:
        held_.push_back("  side photo attached");
        held_.push_back("reading the request back");
        break;
    }
  }

  void estimationUploadDidProgress(EstimationProgressType, std::uint64_t sent,
                                   std::uint64_t total) override {
    confirm();  // bytes of the next photo: the step before it succeeded
    if (terminal_) {
      bar_.draw("  ", sent, total);
    } else if (sent == total) {
      std::cerr << "  sent " << total << " bytes\n";
    }
  }

  /// The creation went on or succeeded: what was held back happened.
  void confirm() {
    if (held_.empty()) return;
    endBar();
    for (const auto& line : held_) std::cerr << line << "\n";
    held_.clear();
  }
  /// The creation failed: what was held back did not happen.
  void discard() {
    endBar();
    held_.clear();
  }

  void endBar() { bar_.end(); }

 private:
  bool terminal_;
  ProgressLine bar_;
  std::vector<std::string> held_;
};

struct CreateOutcome {
  bool done = false;
  std::shared_ptr<EstimationRequest> record;
  std::optional<Errors> errors;
  RequestCallback callback() {
    return [this](std::shared_ptr<EstimationRequest> r, std::optional<Errors> e) {
      record = std::move(r);
      errors = std::move(e);
      done = true;
    };
  }
};

const std::string kWaitSubscription = "corvenza-create";

/// Follows @p record until its estimation completes or fails: the update
/// events say when, and a read then fetches the measurements. A read every
/// few seconds covers events lost to a dropped connection. Nothing (after
/// saying why) on an error or when @p timeout seconds pass first.
std::shared_ptr<EstimationRequest> waitForOutcome(Session& session,
                                                  std::shared_ptr<EstimationRequest> record,
                                                  std::map<std::string, std::string>& updates,
                                                  int timeout) {
  constexpr auto kReadEvery = std::chrono::seconds(10);
  const auto id = *record->id;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
  std::cerr << "waiting for the estimation";
  while (!isFinal(*record)) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      std::cerr << "\ncorvenza: still " << (record->status ? record->status->rawValue() : "unknown")
                << " after " << timeout << " s\n";
      return nullptr;
    }
    const auto slice = std::min<std::chrono::seconds>(
        kReadEvery, std::chrono::ceil<std::chrono::seconds>(deadline - now));
    session.runUntil(
        [&] {
          auto found = updates.find(id);
          return found != updates.end() && isFinalStatus(found->second);
        },
        slice);
    updates.erase(id);  // a stale read then waits for the next event or slice
    CreateOutcome read;
    CorvenzaEnterprise::getEstimationRequest(id, read.callback());
    if (!session.runUntil([&] { return read.done; }, std::chrono::seconds(60))) continue;
    if (read.errors) {
      std::cerr << "\n";
      printErrors(*read.errors);
      return nullptr;
    }
    record = read.record;
    std::cerr << ".";
  }
  std::cerr << " " << record->status->rawValue() << "\n";
  return record;
}

int runCreate(const CreateOptions& options) {
  auto parameter = loadParameter(options.parameter);
  if (!parameter) return kExitUsage;
  auto session = Session::start(options.global);
  if (!session) return kExitFailure;

  auto reporter = std::make_shared<StageReporter>(isatty(STDERR_FILENO));
  CorvenzaEnterprise::shared().setDelegate(reporter);
  // Listening before creating, so that a quick estimation is not missed.
  struct StopListening {
    ~StopListening() { CorvenzaEnterprise::unsubscribeAll(); }
  } stopListening;
  auto updates = std::make_shared<std::map<std::string, std::string>>();
  if (options.wait) {
    CorvenzaEnterprise::subscribeUpdateOfEstimationRequests(
        [updates](std::shared_ptr<EstimationRequest> record, std::optional<Errors>) {
          if (record && record->id && record->status) {
            (*updates)[*record->id] = record->status->rawValue();
          }
        },
        kWaitSubscription);
  }
  CreateOutcome created;
  CorvenzaEnterprise::createEstimationRequest(*parameter, created.callback());
  // Each of the four steps has its own 45-second limit.
  const bool finished = session->runUntil([&] { return created.done; }, std::chrono::seconds(200));
  if (!finished) {
    reporter->discard();
    std::cerr << "corvenza: the creation did not finish\n";
    return kExitFailure;
  }
  if (created.errors) {
    reporter->discard();
    printErrors(*created.errors);
    return kExitFailure;
  }
  reporter->confirm();
  auto record = created.record;
  if (options.wait && !isFinal(*record)) {
    record = waitForOutcome(*session, record, *updates, options.timeout);
    if (!record) return kExitFailure;
  }
  if (options.json) {
    std::cout << recordJson(*record).dump() << "\n";
  } else {
    printRecord(std::cout, *record);
  }
  return kExitOk;
}

}  // namespace

void addCreateCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<CreateOptions>();
  auto* command = app.add_subcommand("create", "Create an estimation request from two photos");
  addGlobalOptions(*command, options->global);
  addParameterOptions(*command, options->parameter);
  command->add_flag("--wait", options->wait, "Follow the request until it completes or fails");
  command->add_option("--timeout", options->timeout, "Seconds to wait with --wait")
      ->check(wholeNumber(1, std::numeric_limits<int>::max(), "seconds"));
  command->add_flag("--json", options->json, "Print one JSON object");
  command->callback([options, &exitCode] { exitCode = runCreate(*options); });
}

}  // namespace corvenza::cli
