#include <corvenza/remote_image.h>

#include "model/fallback_link_maker.h"

namespace corvenza {

namespace {

std::mutex& fallbackMutex() {
  static std::mutex mutex;
  return mutex;
}

DownloadLinkMaker& fallbackLinkMaker() {
  static DownloadLinkMaker maker;
  return maker;
}

}  // namespace

void model::setFallbackLinkMaker(DownloadLinkMaker maker) {
  std::lock_guard lock(fallbackMutex());
  fallbackLinkMaker() = std::move(maker);
}

RemoteImageProxy::RemoteImageProxy(std::string region, std::string bucket, std::string key,
                                   DownloadLinkMaker linkMaker)
    : s3Object_(S3Object(std::move(bucket), std::move(key), std::move(region))),
      linkMaker_(std::move(linkMaker)) {}

std::optional<S3Object> RemoteImageProxy::s3Object() const {
  std::lock_guard lock(mutex_);
  return s3Object_;
}

void RemoteImageProxy::setS3Object(std::optional<S3Object> object) {
  std::lock_guard lock(mutex_);
  s3Object_ = std::move(object);
}

std::shared_ptr<const Image> RemoteImageProxy::image() const {
  std::lock_guard lock(mutex_);
  return image_;
}

void RemoteImageProxy::setImage(std::shared_ptr<const Image> image) {
  std::lock_guard lock(mutex_);
  image_ = std::move(image);
}

bool RemoteImageProxy::isDownloadable() const {
  std::lock_guard lock(mutex_);
  return s3Object_.has_value();
}

std::optional<std::string> RemoteImageProxy::downloadableURL() const {
  // Copy the location out so signing does not run under our lock.
  auto object = s3Object();
  if (!object) return std::nullopt;
  if (linkMaker_) return linkMaker_(*object);
  DownloadLinkMaker fallback;
  {
    std::lock_guard lock(fallbackMutex());
    fallback = fallbackLinkMaker();
  }
  if (!fallback) return std::nullopt;
  return fallback(*object);
}

}  // namespace corvenza
