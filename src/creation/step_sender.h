#pragma once
// One step of a creation on the wire: the mutation or read it is, sent under
// one time-out guard, its answer sorted into one of four outcomes. Both
// drivers send every step through here; what they make of an outcome (the
// console lines, progress and callback of a creation, or the records and
// retries of a queue) is theirs.

#include <corvenza/estimation.h>
#include <corvenza/remote_image.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "creation/creation_context.h"
#include "creation/creation_step.h"
#include "requests/operation_guard.h"

namespace corvenza::creation {

/// What a step sends.
struct StepInput {
  CreationStep step = CreationStep::create;
  /// The create: the person's values, passed on unchanged.
  double heightInCm = 0;
  double weightInKg = 0;
  int age = 0;
  std::optional<Gender> gender;
  bool failOnAutomaticEstimationFailure = false;
  /// Every later step: the request made.
  std::string requestId;
  /// The photo steps: whose folder, which file, and who hears its bytes.
  std::string identityId;
  std::filesystem::path photo;
  appsync::UploadProgress progress;
  /// The read back.
  appsync::CachePolicy readPolicy = appsync::CachePolicy::fetchIgnoringCacheData;
  DownloadLinkMaker links;
  /// A create answered with neither its object, errors nor a transport error
  /// waits for the time-out instead of counting as an unreadable answer.
  bool silentCreateWaitsForTimeOut = false;
};

struct StepOutcome {
  enum class Kind {
    answered,  // the step is done
    refused,   // the service answered with errors (possibly an empty list)
    failed,    // no usable answer: transport, signing, an unreadable answer
    timedOut,  // nothing within the limit; the operation was cancelled
  };
  Kind kind = Kind::failed;
  /// The create's request id.
  std::string requestId;
  /// The read back's record.
  std::shared_ptr<EstimationRequest> record;
  /// refused: the service's errors; failed: the one error.
  Errors errors;
};

/// Sends @p input's step through @p context's GraphQL client, which must be
/// there. @p done runs once, on the context's queue, never inline; after
/// @p limit without an answer or a byte of the photo moving, the operation is
/// cancelled and @p done hears timedOut.
void sendStep(const CreationContext& context, StepInput input, std::chrono::duration<double> limit,
              std::function<void(StepOutcome)> done);

}  // namespace corvenza::creation
