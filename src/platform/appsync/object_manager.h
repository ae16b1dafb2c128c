#pragma once
// What the GraphQL client needs from object storage: uploading the files named
// by a mutation's complex-object inputs, and downloading stored objects.

#include <corvenza/error.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/http/http_transport.h"

namespace corvenza::appsync {

/// A local file and the storage location it is to occupy.
struct S3UploadDescription {
  std::string bucket;
  std::string key;
  std::string region;
  std::filesystem::path localPath;
  std::string mimeType;

  friend bool operator==(const S3UploadDescription&, const S3UploadDescription&) = default;
};

/// Runs once, on any thread: success with no error, or failure with (normally)
/// the error that stopped the transfer.
using ObjectCompletion = std::function<void(bool success, std::optional<Error> error)>;

/// Hears how far an upload has gone, on a transport thread. Must be cheap.
using UploadProgress = std::function<void(const S3UploadDescription& object,
                                          std::uint64_t bytesSent, std::uint64_t bytesTotal)>;

/// Uploads and downloads stored objects. Implementations must be thread-safe
/// and must never call a completion inline from upload() or download().
class ObjectManager {
 public:
  virtual ~ObjectManager() = default;

  /// Uploads @p object's local file to its bucket and key, telling
  /// @p progress (when set) how far it got. Returns a handle that stops the
  /// transfer, or nullptr when the transfer cannot be stopped.
  virtual std::shared_ptr<http::Cancellable> upload(const S3UploadDescription& object,
                                                    UploadProgress progress,
                                                    ObjectCompletion completion) = 0;

  /// Downloads @p bucket / @p key into the file @p to.
  virtual std::shared_ptr<http::Cancellable> download(const std::string& bucket,
                                                      const std::string& key,
                                                      const std::filesystem::path& to,
                                                      ObjectCompletion completion) = 0;
};

}  // namespace corvenza::appsync
