#include "storage/storage_service.h"

#include "base/s3_error.h"
#include "platform/sigv4/encoding.h"
#include "sigv4_verifier.h"
#include "storage/key_ownership.h"

namespace corvenza::emulator {
namespace {

constexpr const char* kSseHeader = "x-amz-server-side-encryption";
constexpr const char* kKmsKeyHeader = "x-amz-server-side-encryption-aws-kms-key-id";

Response verificationError(const sigv4::Verification& verification, const std::string& resource) {
  using sigv4::VerificationStatus;
  switch (verification.status) {
    case VerificationStatus::verified:
      break;
    case VerificationStatus::missingAuthentication:
      return s3Error(403, "AccessDenied", "Access Denied", resource);
    case VerificationStatus::malformed:
      return s3Error(400, "AuthorizationHeaderMalformed", verification.message, resource);
    case VerificationStatus::unknownAccessKey:
      return s3Error(403, "InvalidAccessKeyId",
                     "The AWS Access Key Id you provided does not exist in our records.", resource);
    case VerificationStatus::invalidSessionToken:
      return s3Error(400, "InvalidToken", "The provided token is malformed or otherwise invalid.",
                     resource);
    case VerificationStatus::signatureMismatch:
      return s3Error(403, "SignatureDoesNotMatch",
                     "The request signature we calculated does not match the signature you "
                     "provided. Check your key and signing method.",
                     resource);
    case VerificationStatus::contentHashMismatch:
      return s3Error(400, "XAmzContentSHA256Mismatch",
                     "The provided 'x-amz-content-sha256' header does not match what was computed.",
                     resource);
    case VerificationStatus::expired:
      return s3Error(403, "AccessDenied", "Request has expired", resource);
    case VerificationStatus::requestTimeSkewed:
      return s3Error(403, "RequestTimeTooSkewed",
                     "The difference between the request time and the current time is too large.",
                     resource);
  }
  return s3Error(403, "AccessDenied", "Access Denied", resource);
}

}  // namespace

StorageService::StorageService(EmulatorContext& context)
    : context_(context), store_(context.options.dataDir / "objects") {}

Response StorageService::handle(const Request& request) {
  auto response = answer(request);
  // A HEAD answer has a GET's status and headers, never a body.
  if (request.method == "HEAD") response.body.clear();
  return response;
}

Response StorageService::answer(const Request& request) {
  // "/bucket/key...": the key keeps its slashes; both are decoded once.
  std::string_view rest = request.subpath;
  if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  const auto slash = rest.find('/');
  Location location;
  location.bucket = sigv4::percentDecode(rest.substr(0, slash));
  if (slash != std::string_view::npos) location.key = sigv4::percentDecode(rest.substr(slash + 1));
  location.resource = "/" + location.bucket + (location.key.empty() ? "" : "/" + location.key);

  if (location.bucket.empty() || location.key.empty()) {
    return s3Error(501, "NotImplemented", "Only object requests are supported by this emulator",
                   location.resource);
  }
  if (request.method != "PUT" && request.method != "GET" && request.method != "HEAD") {
    return s3Error(405, "MethodNotAllowed",
                   "The specified method is not allowed against this resource.", location.resource);
  }
  if (!ObjectStore::validBucket(location.bucket)) {
    return s3Error(400, "InvalidBucketName", "The specified bucket is not valid.",
                   location.resource);
  }
  if (location.bucket != context_.options.bucket) {
    return s3Error(404, "NoSuchBucket", "The specified bucket does not exist", location.resource);
  }
  if (auto refusal = keyRefusal(location)) return std::move(*refusal);

  auto caller = authenticate(request, location);
  if (auto* refusal = std::get_if<Response>(&caller)) return std::move(*refusal);
  const auto& identityId = std::get<std::string>(caller);
  if (!isOwnKey(location.key, identityId)) {
    return s3Error(403, "AccessDenied", "Access Denied", location.resource);
  }
  if (request.method == "PUT") return putObject(request, location, identityId);
  return getObject(request, location);
}

std::optional<Response> StorageService::keyRefusal(const Location& location) {
  switch (ObjectStore::keyProblem(location.key)) {
    case ObjectStore::KeyProblem::none:
      return std::nullopt;
    case ObjectStore::KeyProblem::tooLong:
      return s3Error(400, "KeyTooLongError", "Your key is too long", location.resource);
    case ObjectStore::KeyProblem::segmentTooLong:
      return s3Error(400, "KeyTooLongError",
                     "A part of the key between slashes is longer than the " +
                         std::to_string(ObjectStore::kMaxSegmentBytes) +
                         " bytes this emulator can store",
                     location.resource);
    case ObjectStore::KeyProblem::unsupportedSegment:
      break;
  }
  return s3Error(400, "InvalidArgument", "The key is not supported by this emulator.",
                 location.resource);
}

std::variant<std::string, Response> StorageService::authenticate(const Request& request,
                                                                 const Location& location) const {
  sigv4::ReceivedRequest received;
  received.method = request.method;
  received.target = request.target;
  received.headers = request.headers;
  received.body = request.body;

  sigv4::VerifierOptions options;
  options.lookup = [this](std::string_view accessKeyId) {
    return context_.credentials.signingCredentials(accessKeyId);
  };
  options.storageRules = true;
  options.normalizePath = false;
  options.service = "s3";

  const auto now = context_.clock.now();
  const auto verification = sigv4::verifyRequest(received, options, now);
  if (!verification.ok()) return verificationError(verification, location.resource);
  if (verification.region != context_.options.region) {
    return s3Error(400, "AuthorizationHeaderMalformed",
                   "The authorization names the region '" + verification.region +
                       "'; this emulator expects '" + context_.options.region + "'",
                   location.resource);
  }
  auto issued =
      context_.credentials.validate(verification.accessKeyId, verification.sessionToken, now);
  if (!issued) {
    if (issued.error().code() == kCredentialsExpired) {
      return s3Error(400, "ExpiredToken", "The provided token has expired.", location.resource);
    }
    return s3Error(400, "InvalidToken", "The provided token is malformed or otherwise invalid.",
                   location.resource);
  }
  return issued->identityId;
}

Response StorageService::putObject(const Request& request, const Location& location,
                                   const std::string& identityId) {
  const auto sse = request.header(kSseHeader);
  const auto kmsKeyId = request.header(kKmsKeyHeader);
  if (kmsKeyId && !sse) {
    return s3Error(400, "InvalidArgument",
                   "Server Side Encryption with AWS KMS managed key requires HTTP header "
                   "x-amz-server-side-encryption : aws:kms",
                   location.resource);
  }
  if (sse && *sse != "aws:kms" && *sse != "AES256") {
    return s3Error(400, "InvalidArgument", "The encryption method specified is not supported",
                   location.resource);
  }
  // The bucket policy: only uploads encrypted under the configured key.
  if (!sse || *sse != "aws:kms" || kmsKeyId.value_or("") != context_.options.kmsKeyId) {
    return s3Error(403, "AccessDenied", "Access Denied", location.resource);
  }

  ObjectMetadata metadata;
  metadata.contentType = request.header("Content-Type").value_or("binary/octet-stream");
  metadata.serverSideEncryption = *sse;
  metadata.kmsKeyId = *kmsKeyId;
  metadata.ownerIdentityId = identityId;
  metadata.lastModified = context_.clock.nowSeconds();
  auto stored = store_.put(location.bucket, location.key, request.body, std::move(metadata));
  if (!stored) {
    return s3Error(500, "InternalError",
                   "The object could not be stored: " + stored.error().localizedDescription(),
                   location.resource);
  }
  Response response;
  response.headers = {{"ETag", stored->etag},
                      {kSseHeader, stored->serverSideEncryption},
                      {kKmsKeyHeader, stored->kmsKeyId}};
  return response;
}

Response StorageService::getObject(const Request& request, const Location& location) const {
  // Encryption headers belong to uploads; a read that sends them is refused.
  if (request.header(kSseHeader) || request.header(kKmsKeyHeader)) {
    return s3Error(400, "InvalidArgument",
                   "Server side encryption headers are not allowed on this request",
                   location.resource);
  }
  auto object = store_.get(location.bucket, location.key);
  if (!object) {
    return s3Error(404, "NoSuchKey", "The specified key does not exist.", location.resource);
  }
  Response response;
  response.headers = {{"Content-Type", object->metadata.contentType},
                      {"ETag", object->metadata.etag}};
  if (!object->metadata.serverSideEncryption.empty()) {
    response.headers.emplace_back(kSseHeader, object->metadata.serverSideEncryption);
    response.headers.emplace_back(kKmsKeyHeader, object->metadata.kmsKeyId);
  }
  response.body = std::move(object->data);
  return response;
}

}  // namespace corvenza::emulator
