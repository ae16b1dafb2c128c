#pragma once
// Which permission backend PermissionUtil asks: the Linux one unless a test
// has put another in its place.

#include <memory>

#include "platform/device/permission_backend.h"

namespace corvenza::support {

/// Replaces the backend; nullptr restores the device's own. Thread-safe.
void setPermissionBackend(std::shared_ptr<device::PermissionBackend> backend);
std::shared_ptr<device::PermissionBackend> permissionBackend();

}  // namespace corvenza::support
