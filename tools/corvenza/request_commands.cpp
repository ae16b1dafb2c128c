// corvenza get / list / update / delete.

#include <iostream>
#include <limits>
#include <memory>

#include "cli_session.h"
#include "commands.h"
#include "record_output.h"

namespace corvenza::cli {

namespace {

constexpr std::chrono::seconds kOperationLimit{60};
constexpr int kMaxPageSize = 100;

struct Outcome {
  bool done = false;
  std::shared_ptr<EstimationRequest> record;
  std::optional<Errors> errors;
};

/// Runs one record operation and prints its outcome.
int runRecordOperation(const GlobalOptions& global, bool json, const ErrorContext& context,
                       const std::function<void(RequestCallback)>& start) {
  auto session = Session::start(global);
  if (!session) return kExitFailure;
  auto outcome = std::make_shared<Outcome>();
  start([outcome](std::shared_ptr<EstimationRequest> record, std::optional<Errors> errors) {
    outcome->record = std::move(record);
    outcome->errors = std::move(errors);
    outcome->done = true;
  });
  if (!session->runUntil([&] { return outcome->done; }, kOperationLimit)) {
    std::cerr << "corvenza: no answer within " << kOperationLimit.count() << " s\n";
    return kExitFailure;
  }
  if (outcome->errors) {
    printErrors(*outcome->errors, context);
    return kExitFailure;
  }
  if (json) {
    std::cout << recordJson(*outcome->record).dump() << "\n";
  } else {
    printRecord(std::cout, *outcome->record);
  }
  return kExitOk;
}

struct UpdateOptions {
  std::string id;
  double height = 0;
  double weight = 0;
  int age = 0;
  std::string gender;
};

}  // namespace

void addGetCommand(CLI::App& app, int& exitCode) {
  auto global = std::make_shared<GlobalOptions>();
  auto id = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  auto* command = app.add_subcommand("get", "Show one estimation request");
  addGlobalOptions(*command, *global);
  command->add_option("id", *id, "Request id")->required()->check(utf8Text());
  command->add_flag("--json", *json, "Print one JSON object");
  command->callback([=, &exitCode] {
    exitCode =
        runRecordOperation(*global, *json, {*id, Operation::read}, [id](RequestCallback done) {
          CorvenzaEnterprise::getEstimationRequest(*id, std::move(done));
        });
  });
}

void addDeleteCommand(CLI::App& app, int& exitCode) {
  auto global = std::make_shared<GlobalOptions>();
  auto id = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  auto* command = app.add_subcommand("delete", "Delete an estimation request");
  addGlobalOptions(*command, *global);
  command->add_option("id", *id, "Request id")->required()->check(utf8Text());
  command->add_flag("--json", *json, "Print one JSON object");
  command->callback([=, &exitCode] {
    exitCode =
        runRecordOperation(*global, *json, {*id, Operation::remove}, [id](RequestCallback done) {
          CorvenzaEnterprise::deleteEstimationRequest(*id, std::move(done));
        });
  });
}

void addUpdateCommand(CLI::App& app, int& exitCode) {
  auto global = std::make_shared<GlobalOptions>();
  auto options = std::make_shared<UpdateOptions>();
  auto json = std::make_shared<bool>(false);
  auto* command = app.add_subcommand("update", "Change height, weight, age and gender");
  addGlobalOptions(*command, *global);
  command->add_option("id", options->id, "Request id")->required()->check(utf8Text());
  command->add_option("--height", options->height, "Height in cm")
      ->required()
      ->check(finitePositiveNumber());
  command->add_option("--weight", options->weight, "Weight in kg")
      ->required()
      ->check(finitePositiveNumber());
  command->add_option("--age", options->age, "Age in years")
      ->required()
      ->check(wholeNumber(0, std::numeric_limits<int>::max()));
  command->add_option("--gender", options->gender, "female or male (omit for none)")
      ->check(CLI::IsMember({"female", "male"}));
  command->add_flag("--json", *json, "Print one JSON object");
  command->callback([=, &exitCode] {
    EstimationParameter parameter;
    parameter.heightInCm = options->height;
    parameter.weightInKg = options->weight;
    parameter.age = options->age;
    parameter.gender =
        options->gender.empty() ? std::nullopt : std::optional<Gender>(Gender(options->gender));
    exitCode = runRecordOperation(*global, *json, {options->id, Operation::update},
                                  [options, parameter](RequestCallback done) {
                                    CorvenzaEnterprise::updateEstimationRequest(
                                        options->id, parameter, std::move(done));
                                  });
  });
}

void addListCommand(CLI::App& app, int& exitCode) {
  struct ListOptions {
    GlobalOptions global;
    int limit = 0;
    std::string nextToken;
    bool all = false;
    bool json = false;
  };
  auto options = std::make_shared<ListOptions>();
  auto* command = app.add_subcommand("list", "List your estimation requests");
  addGlobalOptions(*command, options->global);
  // The service refuses a larger page; better said before anything is sent.
  command->add_option("--limit", options->limit, "Page size (1 to 100)")
      ->check(wholeNumber(1, kMaxPageSize));
  command->add_option("--next-token", options->nextToken, "Continue after this page")
      ->check(utf8Text());
  command->add_flag("--all", options->all, "Follow every page");
  command->add_flag("--json", options->json, "Print one JSON object per request");
  command->callback([options, &exitCode] {
    auto session = Session::start(options->global);
    if (!session) {
      exitCode = kExitFailure;
      return;
    }
    std::optional<std::string> token;
    if (!options->nextToken.empty()) token = options->nextToken;
    std::optional<int> limit;
    if (options->limit > 0) limit = options->limit;
    for (;;) {
      struct Page {
        bool done = false;
        std::vector<std::shared_ptr<EstimationRequest>> records;
        std::optional<std::string> next;
        std::optional<Errors> errors;
      };
      auto page = std::make_shared<Page>();
      CorvenzaEnterprise::listEstimationRequests(limit, token,
                                                 [page](auto records, auto next, auto errors) {
                                                   if (records) page->records = std::move(*records);
                                                   page->next = std::move(next);
                                                   page->errors = std::move(errors);
                                                   page->done = true;
                                                 });
      if (!session->runUntil([&] { return page->done; }, kOperationLimit)) {
        std::cerr << "corvenza: no answer within " << kOperationLimit.count() << " s\n";
        exitCode = kExitFailure;
        return;
      }
      if (page->errors) {
        printErrors(*page->errors, ErrorContext{{}, Operation::list});
        exitCode = kExitFailure;
        return;
      }
      for (const auto& record : page->records) {
        if (options->json) {
          std::cout << recordJson(*record).dump() << "\n";
        } else {
          std::cout << record->id.value_or("-") << "  "
                    << (record->status ? record->status->rawValue() : "-") << "\n";
        }
      }
      if (!options->all || !page->next) {
        if (page->next && !options->json) std::cout << "next token: " << *page->next << "\n";
        break;
      }
      token = page->next;
    }
    exitCode = kExitOk;
  });
}

}  // namespace corvenza::cli
