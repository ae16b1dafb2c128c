#pragma once
// Records from response shapes. Each builder starts from an all-absent
// record and copies only what its shape is meant to provide; none fails.

#include <corvenza/estimation.h>

#include <memory>

#include "graphql/responses.h"

namespace corvenza::model {

/// Full shape (get): everything, plus the result when completed or the error
/// code when failed. The photos' download links come from @p links.
std::shared_ptr<EstimationRequest> makeEstimationRequest(const graphql::BodysizeEstimation& e,
                                                         const DownloadLinkMaker& links = {});
/// List item: id, status, thumbnails, createdAt and the failure choice.
std::shared_ptr<EstimationRequest> makeEstimationRequest(
    const graphql::BodysizeEstimationIndexOutput& e, const DownloadLinkMaker& links = {});
/// Create, update and attach: no images, result or error code.
std::shared_ptr<EstimationRequest> makeEstimationRequest(
    const graphql::BodysizeEstimationMinimumOutput& e);
/// Delete: the identifier only.
std::shared_ptr<EstimationRequest> makeEstimationRequest(
    const graphql::DeleteBodysizeEstimation& e);

/// Seconds since 1970-01-01 00:00:00 UTC as a point in time; counts beyond
/// what the clock can hold are clamped to its range.
std::chrono::system_clock::time_point timeFromEpochSeconds(std::int64_t seconds);

/// A proxy for a present image object, or nothing.
std::shared_ptr<RemoteImageProxy> makeRemoteImage(const std::optional<graphql::ImageObject>& image,
                                                  const DownloadLinkMaker& links = {});

}  // namespace corvenza::model
