#pragma once
/// @file
/// What the facade and every EstimationClient share: the callback shapes, the
/// progress listener and the exception of the operations declared to fail.

#include <corvenza/error.h>
#include <corvenza/estimation.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvenza {

/// The last step of a creation that has answered.
enum class EstimationProgressType { none, setParameter, putFrontImage, putSideImage };

/// The kinds of change the subscriptions report.
enum class EstimationEventKind { creation, update, deletion };

/// Receives each new progress value of the request being created, on the main queue.
class CorvenzaEnterpriseDelegate {
 public:
  virtual ~CorvenzaEnterpriseDelegate() = default;
  virtual void estimationProgressDidChange(EstimationProgressType progress) = 0;

  /// The subscription to changes of @p kind is live on the service: its
  /// events reach the listeners from now on. On the main queue, each time the
  /// service acknowledges it (again after a reconnection). Ignored unless
  /// overridden.
  virtual void estimationSubscriptionDidStart(EstimationEventKind /*kind*/) {}

  /// Bytes of the photo now being uploaded, on the main queue: the front
  /// photo while @p progress is `setParameter`, the side photo while it is
  /// `putFrontImage`. Reported each time about a hundredth more has gone out,
  /// and once when the whole file has. Ignored unless overridden.
  virtual void estimationUploadDidProgress(EstimationProgressType /*progress*/,
                                           std::uint64_t /*bytesSent*/,
                                           std::uint64_t /*bytesTotal*/) {}
};

/// Receives the outcome of get, update, delete and create: a record and no
/// errors, or no record and errors; exactly one of the two. Runs once, on the
/// main queue, never inline from the call that started the operation.
using RequestCallback =
    std::function<void(std::shared_ptr<EstimationRequest> request, std::optional<Errors> errors)>;

/// Receives one page of the list: the records (possibly none) and the next
/// page's token, or errors. Runs once, on the main queue, never inline.
using ListCallback =
    std::function<void(std::optional<std::vector<std::shared_ptr<EstimationRequest>>> requests,
                       std::optional<std::string> nextToken, std::optional<Errors> errors)>;

/// Thrown by the two operations declared to fail (`initialize` and
/// `getS3Image`); carries the error.
class CorvenzaException : public std::runtime_error {
 public:
  explicit CorvenzaException(Error error)
      : std::runtime_error(error.localizedDescription()), error_(std::move(error)) {}
  const Error& error() const noexcept { return error_; }

 private:
  Error error_;
};

}  // namespace corvenza
