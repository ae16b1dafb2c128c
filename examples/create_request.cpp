// Creates one estimation request from a front and a side photo and prints the
// measurements once the estimate is done.
//
//   CORVENZA_API_URL=... CORVENZA_API_KEY=... create_request FRONT.jpg SIDE.jpg
//
// corvenza-config.json is read from $CORVENZA_BUNDLE_DIR (or the directory of
// this program). CORVENZA_USER_ID, when set, names the user.

#include <corvenza/corvenza.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

using namespace corvenza;

namespace {

class PrintProgress final : public CorvenzaEnterpriseDelegate {
 public:
  void estimationProgressDidChange(EstimationProgressType progress) override {
    switch (progress) {
      case EstimationProgressType::none:
        std::cout << "creating the request\n";
        break;
      case EstimationProgressType::setParameter:
        std::cout << "request created\n";
        break;
      case EstimationProgressType::putFrontImage:
        std::cout << "front photo attached\n";
        break;
      case EstimationProgressType::putSideImage:
        std::cout << "side photo attached\n";
        break;
    }
  }
};

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string statusText(const EstimationRequest& request) {
  return request.status ? request.status->rawValue() : "unknown";
}

void printErrors(const Errors& errors) {
  for (const auto& error : errors) std::cerr << "error: " << error.localizedDescription() << "\n";
}

void printMeasurements(const EstimationResult& r) {
  for (const auto& field : kMeasurementFields) {
    std::cout << "  " << field.label << ": ";
    if (const auto& value = r.*field.member) {
      std::cout << *value << " cm\n";
    } else {
      std::cout << "-\n";
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " FRONT_PHOTO SIDE_PHOTO\n";
    return 2;
  }
  const auto apiUrl = env("CORVENZA_API_URL");
  const auto apiKey = env("CORVENZA_API_KEY");
  if (apiUrl.empty() || apiKey.empty()) {
    std::cerr << "set CORVENZA_API_URL and CORVENZA_API_KEY\n";
    return 2;
  }

  EstimationParameter parameter;
  parameter.heightInCm = 170;
  parameter.weightInKg = 62.5;
  parameter.age = 35;
  parameter.gender = Gender::female();
  // Loading at the upload width decodes only the pixels that are sent.
  parameter.frontImage = Image::fromFile(argv[1], kUploadPhotoWidth);
  parameter.sideImage = Image::fromFile(argv[2], kUploadPhotoWidth);
  if (!parameter.frontImage || !parameter.sideImage) {
    std::cerr << "cannot read the photos\n";
    return 2;
  }

  // Callbacks run on a main queue that this thread drives.
  auto queue = MainQueue::callerDriven();
  CorvenzaEnterprise::setMainQueue(queue);

  auto provider = std::make_shared<DirectTokenProvider>(apiUrl, apiKey);
  if (const auto user = env("CORVENZA_USER_ID"); !user.empty()) provider->setUserId(user);
  try {
    CorvenzaEnterprise::initialize(provider);
  } catch (const CorvenzaException& e) {
    std::cerr << "cannot start: " << e.what() << "\n";
    return 1;
  }
  CorvenzaEnterprise::shared().setDelegate(std::make_shared<PrintProgress>());

  // One request in flight at a time: the callback fills these in.
  std::shared_ptr<EstimationRequest> request;
  std::optional<Errors> errors;
  bool answered = false;
  auto callback = [&](std::shared_ptr<EstimationRequest> r, std::optional<Errors> e) {
    request = std::move(r);
    errors = std::move(e);
    answered = true;
  };
  auto await = [&] {
    const bool ok = queue->runUntil([&] { return answered; }, std::chrono::minutes(4));
    answered = false;
    if (!ok) std::cerr << "no answer in time\n";
    if (errors) printErrors(*errors);
    return ok && request;
  };

  CorvenzaEnterprise::createEstimationRequest(parameter, callback);
  if (!await()) return 1;
  const std::string id = request->id.value_or("");
  std::cout << "request " << id << " is " << statusText(*request) << "\n";

  // The estimate takes a while; ask again every second, for at most two minutes.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (request->status != BodysizeEstimationStatus::completed()) {
    if (request->status == BodysizeEstimationStatus::failed() ||
        std::chrono::steady_clock::now() > deadline) {
      std::cerr << "request " << id << " ended as " << statusText(*request) << "\n";
      return 1;
    }
    queue->runFor(std::chrono::seconds(1));
    CorvenzaEnterprise::getEstimationRequest(id, callback);
    if (!await()) return 1;
  }

  std::cout << "measurements of request " << id << ":\n";
  if (request->result) printMeasurements(*request->result);
  CorvenzaEnterprise::shutdown();
  return 0;
}
