#include "platform/storage/presigned_url_builder.h"

#include <utility>

#include "platform/sigv4/clock_skew.h"
#include "platform/sigv4/encoding.h"
#include "platform/sigv4/signer.h"
#include "platform/storage/storage_error.h"

namespace corvenza::storage {

PresignedURLBuilder::PresignedURLBuilder(identity::ServiceConfiguration configuration,
                                         PresignedURLBuilderOptions options)
    : configuration_(std::move(configuration)),
      options_(std::move(options)),
      region_(configuration_.region.stringValue()) {
  if (!options_.now) options_.now = [] { return std::chrono::system_clock::now(); };
}

dispatch::Task<std::string> PresignedURLBuilder::getPresignedURL(
    const PresignedURLRequest& request) const {
  using StringTask = dispatch::Task<std::string>;
  if (request.bucket.empty() || request.key.empty()) {
    return StringTask::failed(
        makeStorageError(kStorageInvalidLocation, "The bucket name or object key is empty"));
  }
  if (!configuration_.credentialsProvider) {
    return StringTask::failed(
        makeStorageError(kStorageNoCredentials, "No credentials provider is configured"));
  }
  const auto endpoint = detail::s3Endpoint(region_, options_.environment);
  const auto url =
      endpoint.bucketUrl(request.bucket) + "/" + sigv4::uriEncode(request.key, /*keepSlash=*/true);

  auto source = StringTask::pending();
  configuration_.credentialsProvider->getCredentials().continueWith(
      [finish = source.finish, url, method = request.httpMethod, expires = request.expires,
       region = region_,
       now = options_.now](const detail::Result<sigv4::Credentials>& credentials) {
        if (!credentials) return finish(credentials.error());
        sigv4::SigningParams params;
        params.region = region;
        params.service = "s3";
        params.credentials = credentials.value();
        params.time = now();
        params.storageRules = true;
        params.normalizePath = false;
        finish(sigv4::presignUrl(method, url, params, expires));
      });
  return source.task;
}

std::optional<std::string> PresignedURLBuilder::getPresignedURL(const std::string& bucket,
                                                                const std::string& key) const {
  PresignedURLRequest request;
  request.bucket = bucket;
  request.key = key;
  auto outcome =
      getPresignedURL(request).wait(std::optional<std::chrono::seconds>(options_.waitLimit));
  if (!outcome || !*outcome) return std::nullopt;
  return std::move(*outcome).value();
}

}  // namespace corvenza::storage
