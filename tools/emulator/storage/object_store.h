#pragma once
// Stored objects on disk: the bytes under <root>/<bucket>/<key> and what was
// sent with them (content type, encryption headers, owner) in a JSON sidecar
// under <root>/.meta/<bucket>/<key>.json.

#include <chrono>
#include <cstddef>
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

  /// Longest key, in bytes.
  static constexpr std::size_t kMaxKeyBytes = 1024;
  /// Longest segment between slashes, in bytes: a file name holds 255 and the
  /// sidecar adds ".json" to the last one.
  static constexpr std::size_t kMaxSegmentBytes = 250;

  enum class KeyProblem { none, tooLong, segmentTooLong, unsupportedSegment };

  /// Whether @p bucket can be kept on disk: 3 to 63 lowercase letters,
  /// digits, '.' and '-'.
  static bool validBucket(const std::string& bucket);
  /// Why @p key cannot be kept on disk: longer than kMaxKeyBytes, a segment
  /// longer than kMaxSegmentBytes, or an empty, "." or ".." segment.
  static KeyProblem keyProblem(const std::string& key);
  static bool validKey(const std::string& key) { return keyProblem(key) == KeyProblem::none; }

  /// Stores @p data with @p metadata (length and ETag are filled in). Fails,
  /// leaving any earlier object as it was, when the disk cannot hold the key:
  /// e.g. "a/b" while "a/b/c" exists, or the reverse.
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
