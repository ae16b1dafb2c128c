#include "creation/step_sender.h"

#include "graphql/operations.h"
#include "requests/graphql_gateway.h"
#include "requests/request_support.h"
#include "requests/typed_graphql.h"

namespace corvenza::creation {
namespace {

using Done = std::shared_ptr<std::function<void(StepOutcome)>>;
using Guard = std::shared_ptr<requests::OperationGuard>;

StepOutcome outcome(StepOutcome::Kind kind, Errors errors = {}) {
  StepOutcome out;
  out.kind = kind;
  out.errors = std::move(errors);
  return out;
}

// The first answer wins; a late one after the time-out changes nothing.
void settle(const Guard& guard, const Done& done, StepOutcome out) {
  if (guard->settle()) (*done)(std::move(out));
}

std::shared_ptr<http::Cancellable> sendCreate(requests::GraphQLGateway& gateway,
                                              const std::shared_ptr<MainQueue>& queue,
                                              const StepInput& input, Guard guard, Done done) {
  // Values pass unchanged: centimetres, kilograms, years; gender as null when absent.
  graphql::CreateBodysizeEstimationInput create(
      std::int64_t{input.age}, input.failOnAutomaticEstimationFailure,
      graphql::InputValue<Gender>(input.gender), input.heightInCm, input.weightInKg);
  using Mutation = graphql::CreateBodysizeEstimationMutation;
  const bool waits = input.silentCreateWaitsForTimeOut;
  return requests::performTyped<Mutation>(
      gateway, Mutation(std::move(create)), queue,
      [guard, done, waits](std::optional<requests::TypedResult<Mutation::Data>> result,
                           std::optional<Error> error) {
        auto created =
            result && result->data ? result->data->createBodysizeEstimation() : std::nullopt;
        if (created) {
          // Errors that come with the created object are ignored.
          StepOutcome out = outcome(StepOutcome::Kind::answered);
          out.requestId = created->fragments().bodysizeEstimationMinimumOutput().id();
          return settle(guard, done, std::move(out));
        }
        if (error) return settle(guard, done, outcome(StepOutcome::Kind::failed, {*error}));
        if (result && result->errors) {
          return settle(guard, done, outcome(StepOutcome::Kind::refused, *result->errors));
        }
        if (!waits) {
          settle(guard, done, outcome(StepOutcome::Kind::failed, {makeInvalidResponseError()}));
        }
      });
}

template <typename Mutation>
std::shared_ptr<http::Cancellable> sendAttach(requests::GraphQLGateway& gateway,
                                              const std::shared_ptr<MainQueue>& queue,
                                              const StepInput& input, const UploadTarget& target,
                                              Guard guard, Done done) {
  const bool front = input.step == CreationStep::frontPhoto;
  graphql::S3ObjectInput image(target.bucket, objectKey(input.identityId, input.requestId, front),
                               input.photo.string(), "image/jpeg", target.region);
  return requests::performTyped<Mutation>(
      gateway, Mutation(input.requestId, std::move(image)), queue,
      [guard, done](std::optional<requests::TypedResult<typename Mutation::Data>> result,
                    std::optional<Error> error) {
        if (error) return settle(guard, done, outcome(StepOutcome::Kind::failed, {*error}));
        if (!result) {
          return settle(guard, done,
                        outcome(StepOutcome::Kind::failed, {makeInvalidResponseError()}));
        }
        if (result->errors) {
          return settle(guard, done, outcome(StepOutcome::Kind::refused, *result->errors));
        }
        // The returned data is not inspected: an answer without errors is success.
        settle(guard, done, outcome(StepOutcome::Kind::answered));
      },
      requests::AnswerData::ignored, input.progress);
}

std::shared_ptr<http::Cancellable> sendReadBack(requests::GraphQLGateway& gateway,
                                                const std::shared_ptr<MainQueue>& queue,
                                                const StepInput& input, Guard guard, Done done) {
  return requests::readEstimationRequest(
      gateway, input.readPolicy, queue, input.requestId, input.links,
      [guard, done](std::shared_ptr<EstimationRequest> record, std::optional<Errors> errors) {
        if (errors) {
          return settle(guard, done, outcome(StepOutcome::Kind::refused, std::move(*errors)));
        }
        if (!record) {
          return settle(guard, done,
                        outcome(StepOutcome::Kind::failed, {makeInvalidResponseError()}));
        }
        StepOutcome out = outcome(StepOutcome::Kind::answered);
        out.record = std::move(record);
        settle(guard, done, std::move(out));
      });
}

}  // namespace

void sendStep(const CreationContext& context, StepInput input, std::chrono::duration<double> limit,
              std::function<void(StepOutcome)> done) {
  auto queue = context.queue();
  auto finish = std::make_shared<std::function<void(StepOutcome)>>(std::move(done));
  // Armed before the hand-off, so an answer handled at once on the main
  // queue always finds its time-out to cancel.
  auto guard = requests::OperationGuard::arm(
      limit, queue, [finish] { (*finish)(outcome(StepOutcome::Kind::timedOut)); });
  // A photo on a slow link is answering while its bytes move: only silence
  // counts towards the limit.
  input.progress = [weak = std::weak_ptr<requests::OperationGuard>(guard),
                    heard = std::move(input.progress)](const appsync::S3UploadDescription& upload,
                                                       std::uint64_t sent, std::uint64_t total) {
    if (auto guard = weak.lock()) guard->progressed();
    if (heard) heard(upload, sent, total);
  };
  auto gateway = context.gateway();
  if (!gateway) {
    queue->async([guard, finish] {
      settle(guard, finish, outcome(StepOutcome::Kind::failed, {requests::notInitializedError()}));
    });
    return;
  }
  switch (input.step) {
    case CreationStep::create:
      guard->attach(sendCreate(*gateway, queue, input, guard, finish));
      break;
    case CreationStep::frontPhoto:
      guard->attach(sendAttach<graphql::AttachFrontImageMutation>(
          *gateway, queue, input, context.uploadTarget(), guard, finish));
      break;
    case CreationStep::sidePhoto:
      guard->attach(sendAttach<graphql::AttachSideImageMutation>(
          *gateway, queue, input, context.uploadTarget(), guard, finish));
      break;
    case CreationStep::readBack:
      guard->attach(sendReadBack(*gateway, queue, input, guard, finish));
      break;
  }
}

}  // namespace corvenza::creation
