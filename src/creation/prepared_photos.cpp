#include "creation/prepared_photos.h"

#include <system_error>

#include "requests/file_util.h"
#include "requests/image_upload_input.h"

namespace corvenza::creation {

PreparedPhotos::PreparedPhotos(std::filesystem::path front, std::filesystem::path side)
    : front_(std::move(front)), side_(std::move(side)) {}

PreparedPhotos::~PreparedPhotos() { removeOwnFiles(); }

detail::Status PreparedPhotos::prepare(const Image& image, bool front) {
  auto file = requests::writeUploadPhoto(image, front);
  if (!file) return file.error();
  std::lock_guard lock(mutex_);
  auto& slot = front ? front_ : side_;
  auto& owned = front ? ownsFront_ : ownsSide_;
  std::error_code ignored;
  if (owned) std::filesystem::remove(slot, ignored);  // prepared again: the old one goes
  slot = std::move(*file);
  owned = true;
  return detail::okStatus();
}

std::filesystem::path PreparedPhotos::file(bool front) const {
  std::lock_guard lock(mutex_);
  return front ? front_ : side_;
}

void PreparedPhotos::removeOwnFiles() {
  std::lock_guard lock(mutex_);
  std::error_code ignored;
  if (std::exchange(ownsFront_, false)) std::filesystem::remove(front_, ignored);
  if (std::exchange(ownsSide_, false)) std::filesystem::remove(side_, ignored);
}

std::optional<Error> PreparedPhotos::checkTemporaryFolder() {
  auto folder = requests::FileUtil::privateTemporaryDirectory();
  if (!folder) {
    return Error(folder.error().domain(), folder.error().code(), folder.error().userInfo(),
                 "The private folder for photos on their way to storage cannot be used: " +
                     folder.error().localizedDescription());
  }
  return std::nullopt;
}

}  // namespace corvenza::creation
