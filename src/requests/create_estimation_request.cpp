// Creating a request: create, attach the front photo, attach the side photo,
// read it back. One step at a time, each guarded by its own time-out.

#include <corvenza/console.h>
#include <corvenza/main_queue.h>

#include <filesystem>
#include <mutex>
#include <vector>

#include "auth/developer_identity_provider.h"
#include "core/time_format.h"
#include "requests/creation_preflight.h"
#include "requests/file_util.h"
#include "requests/image_upload_input.h"
#include "requests/operations.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza::requests {

namespace {

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

/// Everything one creation carries from step to step. Each creation has its
/// own, so overlapping creations never touch each other's time-outs.
struct Creation {
  RequestCallback callback;
  std::shared_ptr<MainQueue> queue;  // where the callback runs
  std::shared_ptr<const Image> frontImage;
  std::shared_ptr<const Image> sideImage;
  std::string id;
  // Whose folder the photos go to, fixed when the creation starts (or, before
  // the first signed call, when the create answers): a sign-out meanwhile must
  // not leave the photos without a key.
  std::string identityId;
  // The step in flight, named in the errors: "create", "front photo", "side
  // photo" or "read back". Touched on the main queue only.
  std::string step = "create";

  std::mutex mutex;
  std::shared_ptr<http::Cancellable> operation;  // the step the time-out guards
  std::shared_ptr<DispatchWorkItem> timeout;
  bool finished = false;  // the callback has been handed its outcome
  // Prepared photos on their way to storage; removed once the creation ends,
  // whatever the outcome, so no photo of a person lingers on disk.
  std::vector<std::filesystem::path> photoFiles;

  ~Creation() { removePhotoFiles(); }

  void keepPhotoFile(std::filesystem::path file) {
    std::lock_guard lock(mutex);
    photoFiles.push_back(std::move(file));
  }
  void removePhotoFiles() {
    std::vector<std::filesystem::path> files;
    {
      std::lock_guard lock(mutex);
      files.swap(photoFiles);
    }
    std::error_code ignored;
    for (const auto& file : files) std::filesystem::remove(file, ignored);
  }

  void setOperation(std::shared_ptr<http::Cancellable> handle) {
    std::lock_guard lock(mutex);
    operation = std::move(handle);
  }
  void cancelTimeout() {
    std::shared_ptr<DispatchWorkItem> item;
    {
      std::lock_guard lock(mutex);
      item = timeout;
    }
    if (item) item->cancel();
  }
  /// Marks the creation finished; false when it already was.
  bool finish() {
    std::lock_guard lock(mutex);
    return !std::exchange(finished, true);
  }

  /// @p errors with the step that failed and, once created, the request left
  /// behind in `requested`: the caller may retry its photos or delete it.
  Errors annotated(Errors errors) const {
    UserInfo where{{error_info::kStep, step}};
    if (!id.empty()) where[error_info::kRequestId] = id;
    for (auto& error : errors) error = error.withUserInfo(where);
    return errors;
  }
};

std::string currentIdentity(const ClientState& state) {
  std::shared_ptr<auth::DeveloperAuthenticatedIdentityProvider> bridge;
  {
    std::lock_guard lock(state.mutex);
    bridge = state.developerIdentityProvider;
  }
  return bridge ? bridge->identityId() : std::string();
}

void setProgress(ClientState& state, EstimationProgressType progress) {
  std::shared_ptr<CorvenzaEnterpriseDelegate> delegate;
  {
    std::lock_guard lock(state.mutex);
    state.estimationProgress = progress;
    delegate = state.delegate;
  }
  if (!delegate) return;
  auto queue = state.queue();
  if (queue->isCurrent()) {
    delegate->estimationProgressDidChange(progress);
  } else {
    queue->async([delegate, progress] { delegate->estimationProgressDidChange(progress); });
  }
}

}  // namespace

void reportUploadProgress(ClientState& state, std::uint64_t bytesSent, std::uint64_t bytesTotal) {
  std::shared_ptr<CorvenzaEnterpriseDelegate> delegate;
  EstimationProgressType progress;
  {
    std::lock_guard lock(state.mutex);
    delegate = state.delegate;
    progress = state.estimationProgress;
  }
  if (!delegate) return;
  state.queue()->async([delegate, progress, bytesSent, bytesTotal] {
    delegate->estimationUploadDidProgress(progress, bytesSent, bytesTotal);
  });
}

namespace {

/// Prints the errors, then queues the callback with them on the main queue.
void handleErrorInMainQueue(const std::shared_ptr<Creation>& creation, Errors errors) {
  if (!creation->finish()) return;
  creation->removePhotoFiles();
  requests::printErrors(errors);
  requests::callBackWithErrors(creation->queue, creation->callback,
                               creation->annotated(std::move(errors)));
}

/// Arms the time-out of the step now in flight. The client's slot keeps the
/// latest item; only the creation itself cancels its own.
void armTimeout(ClientState& state, const std::shared_ptr<Creation>& creation) {
  std::weak_ptr<Creation> weak = creation;
  auto item = std::make_shared<DispatchWorkItem>([weak] {
    auto creation = weak.lock();
    if (!creation || !creation->finish()) return;
    printQuoted("CorvenzaError: appSyncClientTimeOut in createEstimationRequest mutation");
    std::shared_ptr<http::Cancellable> operation;
    {
      std::lock_guard lock(creation->mutex);
      operation = creation->operation;
    }
    if (operation) operation->cancel();
    creation->removePhotoFiles();
    if (creation->callback) {
      creation->callback(
          nullptr, creation->annotated({CorvenzaError(CorvenzaErrorReason::appSyncClientTimeOut)}));
    }
  });
  {
    std::lock_guard lock(creation->mutex);
    creation->timeout = item;
  }
  {
    std::lock_guard lock(state.mutex);
    state.timeoutDispatchWorkItem = item;
  }
  creation->queue->asyncAfter(std::chrono::duration_cast<MainQueue::Duration>(
                                  std::chrono::duration<double>(state.estimationTimeOutSec)),
                              item);
}

template <typename Mutation>
using Result = std::optional<requests::TypedResult<typename Mutation::Data>>;

/// A photo's bytes on their way up, for the delegate.
appsync::UploadProgress uploadProgressOf(const StatePtr& state) {
  std::weak_ptr<ClientState> weak = state;
  return [weak](const appsync::S3UploadDescription&, std::uint64_t sent, std::uint64_t total) {
    if (auto locked = weak.lock()) reportUploadProgress(*locked, sent, total);
  };
}

void attachSide(StatePtr state, std::shared_ptr<requests::GraphQLGateway> client,
                std::shared_ptr<Creation> creation);
void readBack(const StatePtr& state, const std::shared_ptr<requests::GraphQLGateway>& client,
              std::shared_ptr<Creation> creation);

/// Reports a failed step: a transport error, or the service's errors array.
/// Returns false when the step succeeded as far as errors go.
template <typename Data>
bool reportStepFailure(const std::shared_ptr<Creation>& creation,
                       std::optional<requests::TypedResult<Data>>& result,
                       std::optional<Error>& error) {
  if (error) {
    creation->cancelTimeout();
    handleErrorInMainQueue(creation, Errors{*error});
    return true;
  }
  if (result && result->errors) {
    creation->cancelTimeout();
    handleErrorInMainQueue(creation, std::move(*result->errors));
    return true;
  }
  return false;
}

/// Builds an attach mutation for one photo; a photo that cannot be prepared
/// ends the creation with that error.
template <typename Mutation>
std::optional<Mutation> attachMutation(const ClientState& state,
                                       const std::shared_ptr<Creation>& creation,
                                       const Image& image, bool isFront) {
  auto input =
      requests::prepareImageUploadInput(state, creation->id, image, isFront, creation->identityId);
  if (!input) {
    handleErrorInMainQueue(creation, Errors{input.error()});
    return std::nullopt;
  }
  creation->keepPhotoFile(input->localUri());
  return Mutation(creation->id, std::move(input.value()));
}

void attachFront(StatePtr state, std::shared_ptr<requests::GraphQLGateway> client,
                 std::shared_ptr<Creation> creation) {
  using Mutation = graphql::AttachFrontImageMutation;
  auto mutation = attachMutation<Mutation>(*state, creation, *creation->frontImage, true);
  if (!mutation) return;
  armTimeout(*state, creation);
  auto handle = requests::performTyped<Mutation>(
      *client, *mutation, creation->queue,
      [state, client, creation](Result<Mutation> result, std::optional<Error> error) {
        if (creation->finished) return;
        printQuoted("[SPEED_TEST]:endFront:" + detail::getNow() + "[" + creation->id + "]");
        setProgress(*state, EstimationProgressType::putFrontImage);
        if (reportStepFailure(creation, result, error)) return;
        // The returned data is not inspected: an answer without errors is success.
        creation->cancelTimeout();
        creation->step = "side photo";
        attachSide(state, client, creation);
      },
      requests::AnswerData::ignored, uploadProgressOf(state));
  creation->setOperation(std::move(handle));
}

void attachSide(StatePtr state, std::shared_ptr<requests::GraphQLGateway> client,
                std::shared_ptr<Creation> creation) {
  using Mutation = graphql::AttachSideImageMutation;
  auto mutation = attachMutation<Mutation>(*state, creation, *creation->sideImage, false);
  if (!mutation) return;
  armTimeout(*state, creation);
  auto handle = requests::performTyped<Mutation>(
      *client, *mutation, creation->queue,
      [state, client, creation](Result<Mutation> result, std::optional<Error> error) {
        if (creation->finished) return;
        printQuoted("[SPEED_TEST]:endSide :" + detail::getNow() + "[" + creation->id + "]");
        setProgress(*state, EstimationProgressType::putSideImage);
        if (reportStepFailure(creation, result, error)) return;
        creation->cancelTimeout();
        creation->removePhotoFiles();  // both are stored by now
        creation->step = "read back";
        readBack(state, client, creation);
      },
      requests::AnswerData::ignored, uploadProgressOf(state));
  creation->setOperation(std::move(handle));
}

/// Reads the request back, under the same 45-second guard as every step.
/// Whatever the read delivers is the creation's outcome.
void readBack(const StatePtr& state, const std::shared_ptr<requests::GraphQLGateway>& client,
              std::shared_ptr<Creation> creation) {
  armTimeout(*state, creation);
  auto handle = requests::readEstimationRequest(
      *client, requests::readCachePolicy(*state), creation->queue, creation->id,
      requests::downloadLinks(*state),
      [creation](std::shared_ptr<EstimationRequest> record, std::optional<Errors> errors) {
        creation->cancelTimeout();
        if (!creation->finish()) return;
        if (!creation->callback) return;
        if (errors) {
          creation->callback(nullptr, creation->annotated(std::move(*errors)));
        } else {
          creation->callback(std::move(record), std::nullopt);
        }
      });
  creation->setOperation(std::move(handle));
}

}  // namespace

void createEstimationRequest(const StatePtr& state, const EstimationParameter& estimationParameter,
                             RequestCallback callback) {
  printQuoted("[SPEED_TEST]:setParam:" + detail::getNow());
  if (!estimationParameter.frontImage || !estimationParameter.sideImage) {
    // Nothing is sent and the progress stays as it was; the caller hears why.
    const char* missing = !estimationParameter.frontImage && !estimationParameter.sideImage
                              ? "The estimation parameter has neither a front nor a side photo"
                          : !estimationParameter.frontImage
                              ? "The estimation parameter has no front photo"
                              : "The estimation parameter has no side photo";
    Errors errors{CorvenzaError(CorvenzaErrorReason::unexpectedError,
                                UserInfo{{error_info::kDetail, missing}})};
    requests::printErrors(errors);
    requests::callBackWithErrors(state->queue(), std::move(callback), std::move(errors));
    return;
  }

  auto client = requests::graphQLClient(*state);
  if (!client) {
    requests::callBackWithErrors(state->queue(), std::move(callback),
                                 {requests::notInitializedError()});
    return;
  }
  // Photos a killed process left on their way to storage go now.
  static std::once_flag swept;
  std::call_once(swept, [] { FileUtil::removeAbandonedTempFiles(std::chrono::minutes(60)); });
  for (auto check : {checkPhotoStorage(*state), checkTemporaryFolder()}) {
    if (!check) continue;
    Errors errors{*check};
    requests::printErrors(errors);
    requests::callBackWithErrors(state->queue(), std::move(callback), std::move(errors));
    return;
  }

  // Values pass unchanged: centimetres, kilograms, years; gender as null when absent.
  graphql::CreateBodysizeEstimationInput input(
      std::int64_t{estimationParameter.age}, estimationParameter.failOnAutomaticEstimationFailure,
      graphql::InputValue<Gender>(estimationParameter.gender), estimationParameter.heightInCm,
      estimationParameter.weightInKg);
  using Mutation = graphql::CreateBodysizeEstimationMutation;

  auto creation = std::make_shared<Creation>();
  creation->callback = std::move(callback);
  creation->queue = state->queue();
  creation->frontImage = estimationParameter.frontImage;
  creation->sideImage = estimationParameter.sideImage;
  creation->identityId = currentIdentity(*state);

  setProgress(*state, EstimationProgressType::none);
  // Armed before the hand-off, so a result handled at once on the main queue
  // always finds its time-out to cancel, whatever thread started the creation.
  armTimeout(*state, creation);
  auto handle = requests::performTyped<Mutation>(
      *client, Mutation(std::move(input)), creation->queue,
      [state, client, creation](Result<Mutation> result, std::optional<Error> error) {
        if (creation->finished) return;
        auto created =
            result && result->data ? result->data->createBodysizeEstimation() : std::nullopt;
        if (created) {
          // Errors that come with the created object are ignored.
          creation->id = created->fragments().bodysizeEstimationMinimumOutput().id();
          if (creation->identityId.empty()) creation->identityId = currentIdentity(*state);
          creation->step = "front photo";
          setProgress(*state, EstimationProgressType::setParameter);
          printQuoted("[SPEED_TEST]:endParam:" + detail::getNow() + "[" + creation->id + "]");
          creation->cancelTimeout();
          attachFront(state, client, creation);
          return;
        }
        reportStepFailure(creation, result, error);
        // Neither data, errors nor a transport error: the time-out reports.
      });
  creation->setOperation(std::move(handle));
}

}  // namespace corvenza::requests
