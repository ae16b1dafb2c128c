#include "requests/storage_backed_s3_object_proxy.h"

#include <filesystem>
#include <system_error>

#include "requests/file_util.h"

namespace corvenza::requests {

StorageBackedS3ObjectProxy::StorageBackedS3ObjectProxy(std::string name,
                                                       std::vector<std::uint8_t> data,
                                                       std::string mimeType)
    : name_(std::move(name)), data_(std::move(data)), mimeType_(std::move(mimeType)) {
  // Non-virtual call on purpose: construction always stores the base way.
  StorageBackedS3ObjectProxy::store();
}

detail::Status StorageBackedS3ObjectProxy::store() {
  auto path = FileUtil::writeTempFile(name_, data_);
  if (!path) {
    localPath_.reset();
    storeError_ = path.error();
    return path.error();
  }
  localPath_ = path->string();
  storeError_.reset();
  return detail::okStatus();
}

detail::Result<graphql::S3ObjectInput> StorageBackedS3ObjectProxy::generateS3ObjectInput(
    const std::string& region, const std::string& bucket, const std::string& key) {
  if (!localPath_) {
    if (storeError_) return *storeError_;
    return Error("CorvenzaFileError", 6, std::nullopt, "The object has not been stored");
  }
  // An empty file would be uploaded as an empty photo; refuse it here instead.
  if (data_.empty()) {
    return Error("CorvenzaFileError", 7, std::nullopt, "The object to upload holds no data");
  }
  s3ObjectInput_ = graphql::S3ObjectInput(bucket, key, *localPath_, mimeType_, region);
  return *s3ObjectInput_;
}

void StorageBackedS3ObjectProxy::remove() {
  if (!localPath_) return;
  std::error_code ignored;
  std::filesystem::remove(*localPath_, ignored);
}

}  // namespace corvenza::requests
