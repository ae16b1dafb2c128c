#include "creation/prepared_photos.h"

#include <system_error>

#include "requests/file_util.h"
#include "requests/image_upload_input.h"

namespace corvenza::creation {

PreparedPhotos::PreparedPhotos(std::filesystem::path front, std::filesystem::path side) {
  front_.file = std::move(front);
  side_.file = std::move(side);
}

PreparedPhotos::~PreparedPhotos() { removeOwnFiles(); }

void PreparedPhotos::store(Slot& slot, detail::Result<std::filesystem::path> file, bool keep) {
  if (!file) return;
  std::error_code ignored;
  if (!keep) {
    std::filesystem::remove(*file, ignored);  // the creation is over: keep no photo
    return;
  }
  if (slot.owned) std::filesystem::remove(slot.file, ignored);  // prepared again: the old one goes
  slot.file = std::move(*file);
  slot.owned = true;
}

detail::Status PreparedPhotos::prepare(const Image& image, bool front) {
  std::unique_lock lock(mutex_);
  auto& mine = slot(front);
  changed_.wait(lock, [&] { return !mine.preparing; });
  if (mine.ahead) return *std::exchange(mine.ahead, std::nullopt);
  mine.preparing = true;
  lock.unlock();
  auto file = requests::writeUploadPhoto(image, front);
  lock.lock();
  mine.preparing = false;
  changed_.notify_all();
  if (!file) return file.error();
  store(mine, std::move(file), true);
  return detail::okStatus();
}

bool PreparedPhotos::prepareAheadOne(const Image& image, bool front) {
  std::unique_lock lock(mutex_);
  auto& mine = slot(front);
  if (ended_ || mine.preparing || !mine.file.empty() || mine.ahead) return false;
  mine.preparing = true;
  lock.unlock();
  auto file = requests::writeUploadPhoto(image, front);
  lock.lock();
  mine.preparing = false;
  if (!ended_) mine.ahead = file ? detail::okStatus() : detail::Status(file.error());
  store(mine, std::move(file), !ended_);
  changed_.notify_all();
  return true;
}

void PreparedPhotos::prepareAhead(const std::shared_ptr<PreparedPhotos>& photos,
                                  std::shared_ptr<const Image> front,
                                  std::shared_ptr<const Image> side, dispatch::Executor& executor) {
  // One photo at a time: two decoded at once would double the memory peak.
  executor.execute([weak = std::weak_ptr<PreparedPhotos>(photos), front = std::move(front),
                    side = std::move(side)] {
    if (auto photos = weak.lock(); photos && front) photos->prepareAheadOne(*front, true);
    if (auto photos = weak.lock(); photos && side) photos->prepareAheadOne(*side, false);
  });
}

std::filesystem::path PreparedPhotos::file(bool front) const {
  std::lock_guard lock(mutex_);
  return front ? front_.file : side_.file;
}

void PreparedPhotos::removeOwnFiles() {
  std::lock_guard lock(mutex_);
  ended_ = true;
  std::error_code ignored;
  for (Slot* mine : {&front_, &side_}) {
    if (std::exchange(mine->owned, false)) std::filesystem::remove(mine->file, ignored);
  }
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
