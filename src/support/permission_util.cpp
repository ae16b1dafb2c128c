#include <corvenza/permission_util.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "platform/dispatch/default_main_queue.h"
#include "support/permission_backend_hook.h"

namespace corvenza {

namespace support {

namespace {

std::mutex& stateMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<device::PermissionBackend>& backendSlot() {
  static std::shared_ptr<device::PermissionBackend> backend;
  return backend;
}

LocalizationTable& tableSlot() {
  static LocalizationTable table;
  return table;
}

}  // namespace

void setPermissionBackend(std::shared_ptr<device::PermissionBackend> backend) {
  std::lock_guard lock(stateMutex());
  backendSlot() = std::move(backend);
}

std::shared_ptr<device::PermissionBackend> permissionBackend() {
  std::lock_guard lock(stateMutex());
  if (!backendSlot()) backendSlot() = device::makeLinuxPermissionBackend();
  return backendSlot();
}

}  // namespace support

namespace {

using device::AuthorizationStatus;
using device::MediaAccess;

std::string localized(const std::string& english) {
  LocalizationTable table;
  {
    std::lock_guard lock(support::stateMutex());
    table = support::tableSlot();
  }
  if (table) {
    if (auto text = table(english)) return *text;
  }
  return english;
}

void call(const PermissionCallback& callback, bool value) {
  if (callback) callback(value);
}

/// Shows the refusal prompt; runs on the main queue.
void presentRefusal(MediaAccess media, const std::shared_ptr<AlertPresenter>& presenter,
                    PermissionCallback callback) {
  if (!presenter) return;
  const std::string message =
      media == MediaAccess::camera
          ? "Permission to access camera has not been given. This is necessary for normal "
            "operation. Please allow access in device settings."
          : "Access to photo library is necessary for normal operation. Please allow access in "
            "device settings.";
  Alert alert;
  alert.title = localized("Confirm");
  alert.message = localized(message);
  alert.preferredStyle = AlertStyle::alert;
  alert.actions = {{localized("Settings"), AlertActionStyle::defaultStyle},
                   {localized("Cancel"), AlertActionStyle::cancel}};
  auto answered = std::make_shared<std::atomic<bool>>(false);
  presenter->present(alert, true, [callback = std::move(callback), answered](std::size_t index) {
    if (answered->exchange(true)) return;  // one choice per prompt
    dispatch::defaultMainQueue()->async([callback, index] {
      if (index == 0) {
        const bool opened = support::permissionBackend()->openSettings();
        call(callback, opened);
      } else {
        call(callback, false);
      }
    });
  });
}

void check(MediaAccess media, std::shared_ptr<AlertPresenter> presenter,
           PermissionCallback callback) {
  auto backend = support::permissionBackend();
  const auto queue = dispatch::defaultMainQueue();
  switch (backend->status(media)) {
    case AuthorizationStatus::authorized:
      queue->async([callback = std::move(callback)] { call(callback, false); });
      return;
    case AuthorizationStatus::notDetermined:
      backend->requestAccess(media, [media, presenter = std::move(presenter),
                                     callback = std::move(callback)](bool granted) {
        dispatch::defaultMainQueue()->async([media, presenter, callback, granted] {
          if (granted) {
            call(callback, false);
          } else {
            presentRefusal(media, presenter, callback);
          }
        });
      });
      return;
    case AuthorizationStatus::denied:
    case AuthorizationStatus::restricted:
    case AuthorizationStatus::other:
      break;
  }
  queue->async([media, presenter = std::move(presenter), callback = std::move(callback)] {
    presentRefusal(media, presenter, callback);
  });
}

}  // namespace

bool PermissionUtil::isCameraEnabled() {
  return support::permissionBackend()->status(MediaAccess::camera) ==
         AuthorizationStatus::authorized;
}

bool PermissionUtil::isPhotoLibraryEnabled() {
  return support::permissionBackend()->status(MediaAccess::photoLibrary) ==
         AuthorizationStatus::authorized;
}

void PermissionUtil::checkCameraPermission(std::shared_ptr<AlertPresenter> presenter,
                                           PermissionCallback callback) {
  check(MediaAccess::camera, std::move(presenter), std::move(callback));
}

void PermissionUtil::checkPhotoLibraryPermission(std::shared_ptr<AlertPresenter> presenter,
                                                 PermissionCallback callback) {
  check(MediaAccess::photoLibrary, std::move(presenter), std::move(callback));
}

void PermissionUtil::setLocalizationTable(LocalizationTable table) {
  std::lock_guard lock(support::stateMutex());
  support::tableSlot() = std::move(table);
}

}  // namespace corvenza
