#include "model/estimation_request_builder.h"

#include <corvenza/estimation_fields.h>

#include <algorithm>
#include <limits>

namespace corvenza::model {

std::chrono::system_clock::time_point timeFromEpochSeconds(std::int64_t seconds) {
  using Clock = std::chrono::system_clock;
  // Converting seconds to the clock's finer ticks overflows for extreme
  // counts; clamp first so a hostile response cannot cause undefined behaviour.
  constexpr auto kMax =
      std::chrono::duration_cast<std::chrono::seconds>(Clock::duration::max()).count() - 1;
  constexpr auto kMin =
      std::chrono::duration_cast<std::chrono::seconds>(Clock::duration::min()).count() + 1;
  const auto clamped = std::clamp<std::int64_t>(seconds, kMin, kMax);
  return Clock::time_point(
      std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(clamped)));
}

std::shared_ptr<RemoteImageProxy> makeRemoteImage(const std::optional<graphql::ImageObject>& image,
                                                  const DownloadLinkMaker& links) {
  if (!image) return nullptr;
  const auto location = image->fragments().s3Object();
  return std::make_shared<RemoteImageProxy>(location.region(), location.bucket(), location.key(),
                                            links);
}

namespace {

int clampedAge(std::int64_t age) {
  return static_cast<int>(std::clamp<std::int64_t>(age, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

std::shared_ptr<EstimationResult> makeResult(const graphql::BodysizeEstimation& e) {
  auto r = std::make_shared<EstimationResult>();
  for (const auto& field : kMeasurementFields) {
    (*r).*field.member = e.snapshot.floating(field.wireName);
  }
  return r;
}

}  // namespace

std::shared_ptr<EstimationRequest> makeEstimationRequest(const graphql::BodysizeEstimation& e,
                                                         const DownloadLinkMaker& links) {
  auto r = std::make_shared<EstimationRequest>();
  r->id = e.id();
  r->status = e.status();
  r->weight = e.weight();
  r->age = clampedAge(e.age());
  r->height = e.height();
  r->gender = e.gender();
  r->frontImageThumb = makeRemoteImage(e.frontImageThumb(), links);
  r->sideImageThumb = makeRemoteImage(e.sideImageThumb(), links);
  r->frontImage = makeRemoteImage(e.frontImage(), links);
  r->sideImage = makeRemoteImage(e.sideImage(), links);
  r->failOnAutomaticEstimationFailure = e.failOnAutomaticEstimationFailure();
  // Only a completed request has measurements and only a failed one an error
  // code, whatever else the response carries.
  if (r->status->kind() == BodysizeEstimationStatus::Case::completed) {
    r->result = makeResult(e);
  } else if (r->status->kind() == BodysizeEstimationStatus::Case::failed) {
    r->errorCode = e.errorCode();
  }
  r->createdAt = timeFromEpochSeconds(e.createdAt());
  return r;
}

std::shared_ptr<EstimationRequest> makeEstimationRequest(
    const graphql::BodysizeEstimationIndexOutput& e, const DownloadLinkMaker& links) {
  auto r = std::make_shared<EstimationRequest>();
  r->id = e.id();
  r->status = e.status();
  r->frontImageThumb = makeRemoteImage(e.frontImageThumb(), links);
  r->sideImageThumb = makeRemoteImage(e.sideImageThumb(), links);
  r->createdAt = timeFromEpochSeconds(e.createdAt());
  r->failOnAutomaticEstimationFailure = e.failOnAutomaticEstimationFailure();
  return r;
}

std::shared_ptr<EstimationRequest> makeEstimationRequest(
    const graphql::BodysizeEstimationMinimumOutput& e) {
  auto r = std::make_shared<EstimationRequest>();
  r->id = e.id();
  r->status = e.status();
  r->weight = e.weight();
  r->height = e.height();
  r->age = clampedAge(e.age());
  r->gender = e.gender();
  r->createdAt = timeFromEpochSeconds(e.createdAt());
  r->failOnAutomaticEstimationFailure = e.failOnAutomaticEstimationFailure();
  return r;
}

std::shared_ptr<EstimationRequest> makeEstimationRequest(
    const graphql::DeleteBodysizeEstimation& e) {
  auto r = std::make_shared<EstimationRequest>();
  r->id = e.id();
  return r;
}

}  // namespace corvenza::model
