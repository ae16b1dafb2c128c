#include "core/presigned_links.h"

#include <memory>
#include <mutex>

namespace corvenza::detail {

namespace {

std::mutex& builderMutex() {
  static std::mutex m;
  return m;
}

// Held by shared_ptr so a call in flight keeps its builder alive while another
// thread replaces it.
std::shared_ptr<const PresignedLinkBuilder>& installedBuilder() {
  static std::shared_ptr<const PresignedLinkBuilder> builder;
  return builder;
}

}  // namespace

void setPresignedLinkBuilder(PresignedLinkBuilder builder) {
  auto next = builder ? std::make_shared<const PresignedLinkBuilder>(std::move(builder)) : nullptr;
  std::lock_guard lock(builderMutex());
  installedBuilder() = std::move(next);
}

std::optional<std::string> presignedDownloadURL(const S3Object& object) {
  std::shared_ptr<const PresignedLinkBuilder> builder;
  {
    std::lock_guard lock(builderMutex());
    builder = installedBuilder();
  }
  if (!builder) return std::nullopt;
  return (*builder)(object);
}

}  // namespace corvenza::detail
