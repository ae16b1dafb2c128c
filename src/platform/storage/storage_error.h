#pragma once
// Failures that object storage reports, and the local ones of setting up a
// transfer. A refused request keeps the service's own code and message.

#include <corvenza/error.h>

#include <string>

#include "platform/http/http_types.h"

namespace corvenza::storage {

/// Domain of object-storage errors. For a refused request the code is the
/// HTTP status (300..599); local failures use StorageErrorCode.
inline constexpr const char* kStorageErrorDomain = "CorvenzaStorageError";

enum StorageErrorCode : int {
  /// The file to upload is missing or cannot be read.
  kStorageFileUnreadable = 1,
  /// The bucket or key is empty, or the endpoint gives no usable URL.
  kStorageInvalidLocation = 2,
  /// No credentials provider is configured.
  kStorageNoCredentials = 3,
  /// A presigned link could not be made in time.
  kStoragePresignTimedOut = 4,
  /// An upload was answered 2xx without the ETag that confirms a stored object.
  kStorageUnconfirmedUpload = 5,
};

Error makeStorageError(int code, std::string description);

/// The error of a response outside 2xx: code = the status, description
/// "<Code>: <Message>" from the XML error body (the status alone when the body
/// has none), user information "Code", "Message", "RequestId" and
/// "HTTPStatus" where known. Never quotes the request URL.
Error storageErrorFromResponse(const http::HttpResponse& response);

}  // namespace corvenza::storage
