#pragma once
/// @file
/// Stored photos: their object-storage location and an image slot for the application.

#include <corvenza/image.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace corvenza {

/// The location of one stored object: bucket, key and region, all plain texts
/// kept exactly as given (empty texts included). A value type.
class S3Object {
 public:
  S3Object(std::string bucket, std::string key, std::string region)
      : bucket_(std::move(bucket)), key_(std::move(key)), region_(std::move(region)) {}

  const std::string& getBucketName() const noexcept { return bucket_; }
  const std::string& getKeyName() const noexcept { return key_; }
  const std::string& getRegion() const noexcept { return region_; }

  friend bool operator==(const S3Object&, const S3Object&) = default;

 private:
  std::string bucket_;
  std::string key_;
  std::string region_;
};

/// Signs a download link to a stored object, or answers nothing. Records read
/// by a client carry that client's; it may block while the link is signed.
using DownloadLinkMaker = std::function<std::optional<std::string>(const S3Object&)>;

/// A stored photo of an estimation request: its location plus an image slot
/// that the application may fill after downloading the photo. The library
/// never fills the slot.
///
/// Thread safety: every member may be called from any thread; the location
/// and the slot are guarded by one lock.
class RemoteImageProxy {
 public:
  /// Stores the location S3Object(@p bucket, @p key, @p region); note the
  /// different parameter order. The image slot starts empty. Download links
  /// come from @p linkMaker; without one (a proxy the application builds from
  /// a stored location) from the facade's shared instance, signed with its
  /// credentials once CorvenzaEnterprise::initialize has run.
  RemoteImageProxy(std::string region, std::string bucket, std::string key,
                   DownloadLinkMaker linkMaker = {});

  RemoteImageProxy(const RemoteImageProxy&) = delete;
  RemoteImageProxy& operator=(const RemoteImageProxy&) = delete;

  /// The stored location, absent only after setS3Object(std::nullopt).
  std::optional<S3Object> s3Object() const;
  void setS3Object(std::optional<S3Object> object);

  /// The image slot. image() and cachedImage() are the same slot.
  std::shared_ptr<const Image> image() const;
  void setImage(std::shared_ptr<const Image> image);
  std::shared_ptr<const Image> cachedImage() const { return image(); }
  void setCachedImage(std::shared_ptr<const Image> image) { setImage(std::move(image)); }
  /// Empties the image slot.
  void clearImageCache() { setImage(nullptr); }

  /// True exactly when a location is stored (even one made of empty texts).
  bool isDownloadable() const;

  /// A presigned GET link to the stored object, valid for 900 seconds from
  /// this call. Each call makes a new link; keep it if you need it again.
  /// Absent when no location is stored, when the proxy has no link maker and
  /// the shared instance is not initialized, or when the link cannot be made.
  /// Blocks the calling thread while the link is signed (no network traffic
  /// once credentials are at hand).
  std::optional<std::string> downloadableURL() const;

 private:
  mutable std::mutex mutex_;
  std::optional<S3Object> s3Object_;
  std::shared_ptr<const Image> image_;
  const DownloadLinkMaker linkMaker_;
};

}  // namespace corvenza
