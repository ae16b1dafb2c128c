#pragma once
// Uploads files to and downloads files from object storage: one signed PUT
// or GET per transfer, each attempt signed afresh with the current
// federated credentials, retried when the failure is transient.

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/task.h"
#include "platform/endpoints.h"
#include "platform/http/http_transport.h"
#include "platform/http/retrying_transport.h"
#include "platform/identity/service_configuration.h"
#include "platform/sigv4/clock_skew.h"

namespace corvenza::storage {

/// Extra request headers and a progress listener for one upload.
struct UploadExpression {
  http::HttpHeaders requestHeaders;
  /// Runs on the transport's thread as bytes move; may be empty.
  http::ProgressCallback progressBlock;

  /// Sets @p header to @p value, replacing an earlier value.
  void setValue(std::string value, const std::string& header) {
    http::setHeader(requestHeaders, header, std::move(value));
  }
};

/// Extra request headers and a progress listener for one download.
struct DownloadExpression {
  http::HttpHeaders requestHeaders;
  http::ProgressCallback progressBlock;
};

/// Runs exactly once, on a transport thread, when a started transfer ends:
/// nothing on success, else the error (the service's refusal as a
/// "CorvenzaStorageError" whose code is the HTTP status, or the transport's).
using TransferCompletion = std::function<void(std::optional<Error> error)>;

/// What a started transfer hands back: a handle that stops it. A failed task
/// means the transfer could not be started and its completion never runs.
using TransferTask = dispatch::Task<std::shared_ptr<http::Cancellable>>;

struct TransferUtilityOptions {
  /// The transport under the signing and retry layers. Required: without one
  /// every transfer fails to start.
  std::shared_ptr<http::HttpTransport> transport;
  /// Where endpoint overrides are read (AWS_ENDPOINT_URL_S3, AWS_ENDPOINT_URL).
  detail::EnvironmentLookup environment = detail::processEnvironment;
  /// Sign uploads with "UNSIGNED-PAYLOAD" instead of the file's hash.
  bool unsignedPayload = false;
  /// How long one attempt may go without a byte moving.
  std::chrono::milliseconds timeout{300'000};
  /// Clock correction for signing; an uncorrected clock when absent.
  std::shared_ptr<sigv4::ClockSkew> skew;
  /// Timer for retries after a backoff; the library's own when absent.
  http::Scheduler retryScheduler;
};

/// Thread-safe: transfers may be started from any thread at once.
class TransferUtility {
 public:
  /// Signs with @p configuration's region (the identity pool's) and credentials.
  explicit TransferUtility(identity::ServiceConfiguration configuration,
                           TransferUtilityOptions options = {});

  /// The URL of @p bucket / @p key: "https://<bucket>.s3.<region>.amazonaws.com/<key>"
  /// by default, "<endpoint>/<bucket>/<key>" with an endpoint override. The key
  /// is percent-encoded once, '/' kept.
  std::string objectUrl(const std::string& bucket, const std::string& key) const;

  /// PUTs the file @p file to @p bucket / @p key with Content-Type
  /// @p contentType, a fixed Content-Length and @p expression's headers.
  /// Fails at once (domain "CorvenzaStorageError") for an empty bucket or key,
  /// an unreadable file or missing credentials; otherwise @p completion runs
  /// once when the transfer ends, never inline from this call.
  TransferTask uploadFile(const std::filesystem::path& file, const std::string& bucket,
                          const std::string& key, const std::string& contentType,
                          UploadExpression expression, TransferCompletion completion);

  /// GETs @p bucket / @p key into the file @p to (written only on success).
  /// Same contract as uploadFile().
  TransferTask download(const std::string& bucket, const std::string& key,
                        const std::filesystem::path& to, DownloadExpression expression,
                        TransferCompletion completion);

  const std::string& region() const { return region_; }

  /// Whether an upload to @p bucket could be sent at all: a bucket, a
  /// credentials provider and an http or https endpoint. Lets a caller find
  /// out before it makes anything that the photos would then need.
  std::optional<Error> checkUploadTarget(const std::string& bucket) const;

 private:
  std::shared_ptr<http::HttpTransport> signedTransport();
  std::optional<Error> checkLocation(const std::string& bucket, const std::string& key) const;

  identity::ServiceConfiguration configuration_;
  TransferUtilityOptions options_;
  std::string region_;
  std::once_flag transportOnce_;
  std::shared_ptr<http::HttpTransport> transport_;
};

}  // namespace corvenza::storage
