#pragma once
// An object to be uploaded: its bytes written to a private temporary file,
// and the storage description the GraphQL client uploads it from.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "graphql/inputs.h"

namespace corvenza::requests {

/// Not thread-safe; lives for one preparation on one thread. Destroying it
/// leaves the temporary file in place (the upload reads it later).
class StorageBackedS3ObjectProxy {
 public:
  /// Keeps the three values and writes @p data to a fresh temporary file
  /// (store()); check storeError() afterwards.
  StorageBackedS3ObjectProxy(std::string name, std::vector<std::uint8_t> data,
                             std::string mimeType);
  virtual ~StorageBackedS3ObjectProxy() = default;
  StorageBackedS3ObjectProxy(const StorageBackedS3ObjectProxy&) = delete;
  StorageBackedS3ObjectProxy& operator=(const StorageBackedS3ObjectProxy&) = delete;

  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  const std::vector<std::uint8_t>& data() const { return data_; }
  void setData(std::vector<std::uint8_t> data) { data_ = std::move(data); }
  const std::string& mimeType() const { return mimeType_; }
  void setMimeType(std::string mimeType) { mimeType_ = std::move(mimeType); }
  const std::optional<graphql::S3ObjectInput>& s3ObjectInput() const { return s3ObjectInput_; }
  void setS3ObjectInput(std::optional<graphql::S3ObjectInput> input) {
    s3ObjectInput_ = std::move(input);
  }
  const std::optional<std::string>& localPath() const { return localPath_; }
  void setLocalPath(std::optional<std::string> path) { localPath_ = std::move(path); }

  /// Writes data() to a new private temporary file (FileUtil::writeTempFile)
  /// and sets localPath() to it. On failure localPath() stays absent and the
  /// error is returned (and kept in storeError()).
  virtual detail::Status store();
  /// Why the last store() failed; nothing after a successful one.
  const std::optional<Error>& storeError() const { return storeError_; }

  /// Sets s3ObjectInput() to {bucket, key, localUri = localPath(), mimeType,
  /// region} and returns it. Fails when there is no stored file or no data.
  virtual detail::Result<graphql::S3ObjectInput> generateS3ObjectInput(const std::string& region,
                                                                       const std::string& bucket,
                                                                       const std::string& key);

  /// Deletes the temporary file, if any; the outcome is ignored.
  virtual void remove();

 private:
  std::string name_;
  std::vector<std::uint8_t> data_;
  std::string mimeType_;
  std::optional<graphql::S3ObjectInput> s3ObjectInput_;
  std::optional<std::string> localPath_;
  std::optional<Error> storeError_;
};

}  // namespace corvenza::requests
