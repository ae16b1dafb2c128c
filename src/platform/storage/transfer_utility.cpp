#include "platform/storage/transfer_utility.h"

#include <system_error>
#include <utility>

#include "platform/identity/request_signing.h"
#include "platform/sigv4/encoding.h"
#include "platform/storage/storage_error.h"

namespace corvenza::storage {
namespace {

Error noTransportError() {
  return CorvenzaError(CorvenzaErrorReason::unexpectedError,
                       UserInfo{{"detail", "The transfer utility was given no HTTP transport"}});
}

// What a transfer answers. Object storage confirms every stored object with
// its ETag; an upload answered 2xx without one (a proxy, a broken answer) has
// not been shown to be stored, and must not be attached as if it were.
http::ResponseCallback finishWith(TransferCompletion completion, bool isUpload) {
  return
      [completion = std::move(completion), isUpload](detail::Result<http::HttpResponse> outcome) {
        if (!outcome) return completion(outcome.error());
        const auto& response = outcome.value();
        if (response.status < 200 || response.status >= 300) {
          return completion(storageErrorFromResponse(response));
        }
        if (isUpload && !http::findHeader(response.headers, "ETag")) {
          return completion(makeStorageError(
              kStorageUnconfirmedUpload,
              "Object storage answered without confirming the object (no ETag); the photo may not "
              "be stored"));
        }
        completion(std::nullopt);
      };
}

}  // namespace

TransferUtility::TransferUtility(identity::ServiceConfiguration configuration,
                                 TransferUtilityOptions options)
    : configuration_(std::move(configuration)),
      options_(std::move(options)),
      region_(configuration_.region.stringValue()) {}

std::string TransferUtility::objectUrl(const std::string& bucket, const std::string& key) const {
  const auto endpoint = detail::s3Endpoint(region_, options_.environment);
  return endpoint.bucketUrl(bucket) + "/" + sigv4::uriEncode(key, /*keepSlash=*/true);
}

std::shared_ptr<http::HttpTransport> TransferUtility::signedTransport() {
  std::call_once(transportOnce_, [this] {
    if (!options_.transport) return;
    auto inner = options_.transport;
    identity::SigningSettings settings{region_, "s3", /*storageRules=*/true,
                                       options_.unsignedPayload};
    runtime::Runtime runtime;
    runtime.transport = std::move(inner);
    runtime.retryScheduler = options_.retryScheduler;
    runtime.skew = options_.skew;
    transport_ = identity::makeSignedTransport(runtime, configuration_.credentialsProvider,
                                               std::move(settings));
  });
  return transport_;
}

std::optional<Error> TransferUtility::checkLocation(const std::string& bucket,
                                                    const std::string& key) const {
  // An empty key would address the bucket itself, which is another operation.
  if (bucket.empty()) return makeStorageError(kStorageInvalidLocation, "The bucket name is empty");
  if (key.empty()) return makeStorageError(kStorageInvalidLocation, "The object key is empty");
  if (!configuration_.credentialsProvider) {
    return makeStorageError(kStorageNoCredentials, "No credentials provider is configured");
  }
  return std::nullopt;
}

std::optional<Error> TransferUtility::checkUploadTarget(const std::string& bucket) const {
  if (auto error = checkLocation(bucket, "-")) return error;
  const auto endpoint = detail::s3Endpoint(region_, options_.environment);
  if (!endpoint.valid) {
    return makeStorageError(kStorageInvalidLocation,
                            "Object storage's endpoint is not a URL with a host name");
  }
  const auto& scheme = endpoint.scheme;
  if (scheme != "http" && scheme != "https") {
    // Only the scheme is named: the rest of an endpoint may hold credentials.
    return makeStorageError(
        kStorageInvalidLocation,
        "Object storage's endpoint must be an http or https URL, not " + scheme + "://");
  }
  return std::nullopt;
}

TransferTask TransferUtility::uploadFile(const std::filesystem::path& file,
                                         const std::string& bucket, const std::string& key,
                                         const std::string& contentType,
                                         UploadExpression expression,
                                         TransferCompletion completion) {
  if (auto error = checkLocation(bucket, key)) return TransferTask::failed(std::move(*error));
  std::error_code ec;
  const bool regular = std::filesystem::is_regular_file(file, ec);
  const auto size = regular ? std::filesystem::file_size(file, ec) : 0;
  if (!regular || ec) {
    return TransferTask::failed(makeStorageError(
        kStorageFileUnreadable, "The file to upload cannot be read: " + file.filename().string()));
  }

  http::HttpRequest request;
  request.method = "PUT";
  request.url = objectUrl(bucket, key);
  request.timeout = options_.timeout;
  request.bodyFile = file;
  for (auto& [name, value] : expression.requestHeaders) {
    http::setHeader(request.headers, name, std::move(value));
  }
  if (!contentType.empty()) http::setHeader(request.headers, "Content-Type", contentType);
  // Stated up front (and signed) so that the body is never sent chunked.
  http::setHeader(request.headers, "Content-Length", std::to_string(size));
  auto transport = signedTransport();
  if (!transport) return TransferTask::failed(noTransportError());
  return TransferTask::completed(transport->send(std::move(request),
                                                 finishWith(std::move(completion), true),
                                                 std::move(expression.progressBlock)));
}

TransferTask TransferUtility::download(const std::string& bucket, const std::string& key,
                                       const std::filesystem::path& to,
                                       DownloadExpression expression,
                                       TransferCompletion completion) {
  if (auto error = checkLocation(bucket, key)) return TransferTask::failed(std::move(*error));
  http::HttpRequest request;
  request.method = "GET";
  request.url = objectUrl(bucket, key);
  request.timeout = options_.timeout;
  request.headers = std::move(expression.requestHeaders);
  request.responseFile = to;
  auto transport = signedTransport();
  if (!transport) return TransferTask::failed(noTransportError());
  return TransferTask::completed(transport->send(std::move(request),
                                                 finishWith(std::move(completion), false),
                                                 std::move(expression.progressBlock)));
}

}  // namespace corvenza::storage
