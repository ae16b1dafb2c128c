// corvenza create: the main job from the command line.

#include <iostream>
#include <memory>
#include <thread>

#include "cli_session.h"
#include "commands.h"
#include "record_output.h"

namespace corvenza::cli {

namespace {

struct CreateOptions {
  GlobalOptions global;
  double height = 0;
  double weight = 0;
  int age = 0;
  std::string gender = "none";
  bool failOnAutomaticFailure = false;
  std::string front;
  std::string side;
  bool wait = false;
  int timeout = 120;
  bool json = false;
};

/// Tells on standard error which stage the creation has reached.
class StageReporter final : public CorvenzaEnterpriseDelegate {
 public:
  void estimationProgressDidChange(EstimationProgressType progress) override {
    switch (progress) {
      case EstimationProgressType::none: std::cerr << "creating the request\n"; break;
      case EstimationProgressType::setParameter:
        std::cerr << "uploading and attaching the front photo\n";
        break;
      case EstimationProgressType::putFrontImage:
        std::cerr << "uploading and attaching the side photo\n";
        break;
      case EstimationProgressType::putSideImage: std::cerr << "reading the request back\n"; break;
    }
  }
};

bool isFinal(const EstimationRequest& request) {
  if (!request.status) return false;
  auto kind = request.status->kind();
  return kind == BodysizeEstimationStatus::Case::completed ||
         kind == BodysizeEstimationStatus::Case::failed;
}

struct Outcome {
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

int runCreate(const CreateOptions& options) {
  Error loadError("CorvenzaImageError", 0);
  auto front = Image::fromFile(options.front, &loadError);
  if (!front) {
    std::cerr << "corvenza: cannot read the front photo: " << loadError.localizedDescription()
              << "\n";
    return kExitUsage;
  }
  auto side = Image::fromFile(options.side, &loadError);
  if (!side) {
    std::cerr << "corvenza: cannot read the side photo: " << loadError.localizedDescription()
              << "\n";
    return kExitUsage;
  }
  auto session = Session::start(options.global);
  if (!session) return kExitFailure;

  EstimationParameter parameter;
  parameter.heightInCm = options.height;
  parameter.weightInKg = options.weight;
  parameter.age = options.age;
  parameter.gender = options.gender == "none" ? std::nullopt
                                              : std::optional<Gender>(Gender(options.gender));
  parameter.failOnAutomaticEstimationFailure = options.failOnAutomaticFailure;
  parameter.frontImage = front;
  parameter.sideImage = side;

  CorvenzaEnterprise::shared().setDelegate(std::make_shared<StageReporter>());
  Outcome created;
  CorvenzaEnterprise::createEstimationRequest(parameter, created.callback());
  // Each of the four steps has its own 45-second limit.
  if (!session->runUntil([&] { return created.done; }, std::chrono::seconds(200))) {
    std::cerr << "corvenza: the creation did not finish\n";
    return kExitFailure;
  }
  if (created.errors) {
    printErrors(*created.errors);
    return kExitFailure;
  }
  auto record = created.record;
  if (options.wait && !isFinal(*record)) {
    std::cerr << "waiting for the estimation";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout);
    while (!isFinal(*record)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        std::cerr << "\ncorvenza: still " << record->status->rawValue() << " after "
                  << options.timeout << " s\n";
        return kExitFailure;
      }
      session->runUntil([] { return false; }, std::chrono::seconds(1));
      Outcome read;
      CorvenzaEnterprise::getEstimationRequest(*record->id, read.callback());
      if (!session->runUntil([&] { return read.done; }, std::chrono::seconds(60))) continue;
      if (read.errors) {
        std::cerr << "\n";
        printErrors(*read.errors);
        return kExitFailure;
      }
      record = read.record;
      std::cerr << ".";
    }
    std::cerr << " " << record->status->rawValue() << "\n";
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
  command->add_option("--height", options->height, "Height in cm")
      ->required()
      ->check(CLI::PositiveNumber);
  command->add_option("--weight", options->weight, "Weight in kg")
      ->required()
      ->check(CLI::PositiveNumber);
  command->add_option("--age", options->age, "Age in years")
      ->required()
      ->check(CLI::NonNegativeNumber);
  command->add_option("--gender", options->gender, "female, male or none")
      ->check(CLI::IsMember({"female", "male", "none"}));
  command->add_flag("--fail-on-automatic-failure", options->failOnAutomaticFailure,
                    "Fail instead of waiting for a manual estimation");
  command->add_option("--front", options->front, "Front photo (JPEG or PNG)")
      ->required()
      ->check(CLI::ExistingFile);
  command->add_option("--side", options->side, "Side photo (JPEG or PNG)")
      ->required()
      ->check(CLI::ExistingFile);
  command->add_flag("--wait", options->wait, "Follow the request until it completes or fails");
  command->add_option("--timeout", options->timeout, "Seconds to wait with --wait")
      ->check(CLI::PositiveNumber);
  command->add_flag("--json", options->json, "Print one JSON object");
  command->callback([options, &exitCode] { exitCode = runCreate(*options); });
}

}  // namespace corvenza::cli
