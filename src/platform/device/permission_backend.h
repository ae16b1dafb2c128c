#pragma once
// The device's permission services: camera and photo-library authorisation
// and the settings page. PermissionUtil asks through this interface so that
// tests can put a fake in its place.

#include <functional>
#include <memory>

namespace corvenza::device {

enum class MediaAccess { camera, photoLibrary };

enum class AuthorizationStatus {
  notDetermined,
  restricted,
  denied,
  authorized,
  /// A status this library has no name for (a limited grant, say).
  other,
};

class PermissionBackend {
 public:
  virtual ~PermissionBackend() = default;
  /// The status as of this call. Thread-safe.
  virtual AuthorizationStatus status(MediaAccess media) const = 0;
  /// Asks for access; @p answer runs once, on any thread (possibly before this
  /// returns), with whether it was granted.
  virtual void requestAccess(MediaAccess media, std::function<void(bool granted)> answer) = 0;
  /// Opens the device's settings page; false when it cannot be opened.
  virtual bool openSettings() = 0;
};

/// Linux: the camera is authorised when a /dev/video* device can be opened
/// for reading (denied when one exists but cannot, restricted when there is
/// none); the photo library when XDG_PICTURES_DIR (else ~/Pictures) is a
/// readable directory (denied when it exists unreadable, restricted when
/// missing). There is no dialog, so a request answers with the current
/// status. Settings open in the first desktop settings program found in PATH,
/// when a display is available.
std::shared_ptr<PermissionBackend> makeLinuxPermissionBackend();

}  // namespace corvenza::device
