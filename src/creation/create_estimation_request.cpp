#include "creation/create_estimation_request.h"

#include <corvenza/console.h>
#include <corvenza/main_queue.h>

#include <mutex>

#include "core/time_format.h"
#include "creation/creation_context.h"
#include "creation/prepared_photos.h"
#include "creation/step_sender.h"
#include "requests/client_state.h"
#include "requests/file_util.h"
#include "requests/request_support.h"

namespace corvenza::creation {

namespace {

using requests::ClientState;
using Kind = StepOutcome::Kind;

/// The console's quoted form of a line: in double quotes, with string escapes.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

void printQuoted(const std::string& text) { consoleLine(quoted(text)); }

/// Everything one creation carries from step to step; each creation has its
/// own, so overlapping creations never touch each other's time-outs. Touched
/// on the main queue only, once the first step is sent.
struct Creation {
  std::shared_ptr<ClientState> state;
  CreationContext context;
  RequestCallback callback;
  std::shared_ptr<const Image> frontImage;
  std::shared_ptr<const Image> sideImage;
  StepInput input;  // the values, then the request and identity as they become known
  // Prepared photos on their way to storage; removed once the creation ends,
  // whatever the outcome, so no photo of a person lingers on disk.
  const std::shared_ptr<PreparedPhotos> photos = std::make_shared<PreparedPhotos>();

  explicit Creation(std::shared_ptr<ClientState> s) : state(s), context(std::move(s)) {}

  /// @p errors with the step that failed and, once created, the request left
  /// behind in `requested`: the caller may retry its photos or delete it.
  Errors annotated(Errors errors) const {
    UserInfo where{{error_info::kStep, std::string(stepName(input.step))}};
    if (!input.requestId.empty()) where[error_info::kRequestId] = input.requestId;
    for (auto& error : errors) error = error.withUserInfo(where);
    return errors;
  }
};
using CreationPtr = std::shared_ptr<Creation>;

void setProgress(ClientState& state, EstimationProgressType progress) {
  auto delegate = state.session().setProgress(progress);
  if (!delegate) return;
  auto queue = state.queue();
  if (queue->isCurrent()) {
    delegate->estimationProgressDidChange(progress);
  } else {
    queue->async([delegate, progress] { delegate->estimationProgressDidChange(progress); });
  }
}

/// Hands a photo's bytes to the delegate, on the main queue, with the
/// creation's current progress. Called from a transport thread.
appsync::UploadProgress uploadProgressOf(const std::shared_ptr<ClientState>& state) {
  std::weak_ptr<ClientState> weak = state;
  return [weak](const appsync::S3UploadDescription&, std::uint64_t sent, std::uint64_t total) {
    auto locked = weak.lock();
    if (!locked) return;
    auto delegate = locked->session().delegate();
    if (!delegate) return;
    const auto progress = locked->session().progress();
    locked->queue()->async([delegate, progress, sent, total] {
      delegate->estimationUploadDidProgress(progress, sent, total);
    });
  };
}

/// Prints the errors, then queues the callback with them on the main queue.
void failWith(const CreationPtr& creation, Errors errors) {
  creation->photos->removeOwnFiles();
  requests::printErrors(errors);
  requests::callBackWithErrors(creation->context.queue(), creation->callback,
                               creation->annotated(std::move(errors)));
}

/// A step that did not answer in time: its operation is cancelled by now.
void timedOut(const CreationPtr& creation) {
  printQuoted("CorvenzaError: appSyncClientTimeOut in createEstimationRequest mutation");
  creation->photos->removeOwnFiles();
  if (creation->callback) {
    creation->callback(
        nullptr, creation->annotated({CorvenzaError(CorvenzaErrorReason::appSyncClientTimeOut)}));
  }
}

/// Sends the creation's current step; @p next hears an answered step.
void send(const CreationPtr& creation, std::function<void(StepOutcome)> next) {
  // The queue holds the step's time-out until it is due; nothing else may,
  // or a client dropped mid-step would be kept alive by its own creation.
  sendStep(creation->context, creation->input, creation->context.stepTimeout(), std::move(next));
}

void readBack(const CreationPtr& creation) {
  creation->input.step = CreationStep::readBack;
  creation->input.readPolicy = creation->context.readPolicy();
  creation->input.links = creation->context.downloadLinks();
  send(creation, [creation](StepOutcome out) {
    if (out.kind == Kind::timedOut) return timedOut(creation);
    if (!creation->callback) return;
    // Whatever the read delivers is the creation's outcome.
    if (out.kind == Kind::answered) return creation->callback(std::move(out.record), std::nullopt);
    creation->callback(nullptr, creation->annotated(std::move(out.errors)));
  });
}

void attach(const CreationPtr& creation, bool front) {
  creation->input.step = front ? CreationStep::frontPhoto : CreationStep::sidePhoto;
  const auto& image = front ? *creation->frontImage : *creation->sideImage;
  if (auto prepared = creation->photos->prepare(image, front); !prepared) {
    return failWith(creation, {prepared.error()});
  }
  creation->input.photo = creation->photos->file(front);
  send(creation, [creation, front](StepOutcome out) {
    if (out.kind == Kind::timedOut) return timedOut(creation);
    const auto& id = creation->input.requestId;
    printQuoted((front ? "[SPEED_TEST]:endFront:" : "[SPEED_TEST]:endSide :") + detail::getNow() +
                "[" + id + "]");
    setProgress(*creation->state, front ? EstimationProgressType::putFrontImage
                                        : EstimationProgressType::putSideImage);
    if (out.kind != Kind::answered) return failWith(creation, std::move(out.errors));
    if (front) return attach(creation, false);
    creation->photos->removeOwnFiles();  // both are stored by now
    readBack(creation);
  });
}

}  // namespace

void createEstimationRequest(const std::shared_ptr<ClientState>& state,
                             const EstimationParameter& parameter, RequestCallback callback) {
  printQuoted("[SPEED_TEST]:setParam:" + detail::getNow());
  if (!parameter.frontImage || !parameter.sideImage) {
    // Nothing is sent and the progress stays as it was; the caller hears why.
    const char* missing = !parameter.frontImage && !parameter.sideImage
                              ? "The estimation parameter has neither a front nor a side photo"
                          : !parameter.frontImage ? "The estimation parameter has no front photo"
                                                  : "The estimation parameter has no side photo";
    Errors errors{CorvenzaError(CorvenzaErrorReason::unexpectedError,
                                UserInfo{{error_info::kDetail, missing}})};
    requests::printErrors(errors);
    requests::callBackWithErrors(state->queue(), std::move(callback), std::move(errors));
    return;
  }
  auto creation = std::make_shared<Creation>(state);
  if (!creation->context.gateway()) {
    requests::callBackWithErrors(state->queue(), std::move(callback),
                                 {requests::notInitializedError()});
    return;
  }
  // Photos a killed process left on their way to storage go now.
  static std::once_flag swept;
  std::call_once(swept,
                 [] { requests::FileUtil::removeAbandonedTempFiles(std::chrono::minutes(60)); });
  for (auto check :
       {creation->context.checkPhotoStorage(), PreparedPhotos::checkTemporaryFolder()}) {
    if (!check) continue;
    Errors errors{*check};
    requests::printErrors(errors);
    requests::callBackWithErrors(state->queue(), std::move(callback), std::move(errors));
    return;
  }

  creation->callback = std::move(callback);
  creation->frontImage = parameter.frontImage;
  creation->sideImage = parameter.sideImage;
  auto& input = creation->input;
  input.heightInCm = parameter.heightInCm;
  input.weightInKg = parameter.weightInKg;
  input.age = parameter.age;
  input.gender = parameter.gender;
  input.failOnAutomaticEstimationFailure = parameter.failOnAutomaticEstimationFailure;
  input.silentCreateWaitsForTimeOut = true;
  input.progress = uploadProgressOf(state);
  // Whose folder the photos go to is fixed now (or, before the first signed
  // call, when the create answers): a sign-out meanwhile must not leave the
  // photos without a key.
  input.identityId = creation->context.identityId();

  setProgress(*state, EstimationProgressType::none);
  send(creation, [creation](StepOutcome out) {
    if (out.kind == Kind::timedOut) return timedOut(creation);
    if (out.kind != Kind::answered) return failWith(creation, std::move(out.errors));
    creation->input.requestId = out.requestId;
    if (creation->input.identityId.empty()) {
      creation->input.identityId = creation->context.identityId();
    }
    setProgress(*creation->state, EstimationProgressType::setParameter);
    printQuoted("[SPEED_TEST]:endParam:" + detail::getNow() + "[" + out.requestId + "]");
    attach(creation, true);
  });
  // Local work the wire never sees: each photo is encoded while the steps
  // before its own are in flight.
  PreparedPhotos::prepareAhead(creation->photos, creation->frontImage, creation->sideImage,
                               *state->runtime().executor);
}

}  // namespace corvenza::creation
