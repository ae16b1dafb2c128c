#pragma once
// Stored objects on disk: the bytes under <root>/<bucket>/<key> and what was
// sent with them (content type, encryption headers, owner) in a JSON sidecar
// under <root>/.meta/<bucket>/<key>.json.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/result.h"

namespace corvenza::emulator {

struct ObjectMetadata {
  std::string contentType;
  std::uint64_t contentLength = 0;
  /// Quoted hex MD5 of the bytes, as ETag headers carry it.
  std::string etag;
  std::string serverSideEncryption;
  std::string kmsKeyId;
  /// The identity whose credentials stored the object.
  std::string ownerIdentityId;
  std::int64_t lastModified = 0;  ///< seconds since the epoch
};

struct StoredObject {
  ObjectMetadata metadata;
  std::string data;
};

/// Thread-safe: a write replaces the object atomically, so a concurrent read
/// sees the old object or the new one, never a mix.
class ObjectStore {
 public:
  explicit ObjectStore(std::filesystem::path root) : root_(std::move(root)) {}

  /// Whether @p bucket and @p key can be kept on disk: bucket names of 3 to 63
  /// lowercase letters, digits, '.' and '-'; keys without empty, "." or ".."
  /// segments, at most 1024 bytes.
  static bool validBucket(const std::string& bucket);
  static bool validKey(const std::string& key);

  /// Stores @p data with @p metadata (length and ETag are filled in).
  detail::Result<ObjectMetadata> put(const std::string& bucket, const std::string& key,
                                     const std::string& data, ObjectMetadata metadata);
  /// The object, or nothing when there is none.
  std::optional<StoredObject> get(const std::string& bucket, const std::string& key) const;

  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path dataPath(const std::string& bucket, const std::string& key) const;
  std::filesystem::path metaPath(const std::string& bucket, const std::string& key) const;

  std::filesystem::path root_;
};

}  // namespace corvenza::emulator
