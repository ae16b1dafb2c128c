#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/device/permission_backend.h"

namespace corvenza::device {

namespace {

namespace fs = std::filesystem;

AuthorizationStatus cameraStatus() {
  std::error_code error;
  bool found = false;
  for (fs::directory_iterator it("/dev", error), end; !error && it != end; it.increment(error)) {
    if (!it->path().filename().string().starts_with("video")) continue;
    found = true;
    const int fd = ::open(it->path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      return AuthorizationStatus::authorized;
    }
  }
  return found ? AuthorizationStatus::denied : AuthorizationStatus::restricted;
}

fs::path picturesDirectory() {
  if (const char* xdg = std::getenv("XDG_PICTURES_DIR"); xdg != nullptr && *xdg != '\0') {
    return xdg;
  }
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr ? home : "") / "Pictures";
}

AuthorizationStatus photoLibraryStatus() {
  const fs::path directory = picturesDirectory();
  std::error_code error;
  if (!fs::is_directory(directory, error)) return AuthorizationStatus::restricted;
  return ::access(directory.c_str(), R_OK | X_OK) == 0 ? AuthorizationStatus::authorized
                                                       : AuthorizationStatus::denied;
}

std::optional<fs::path> findInPath(std::string_view program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  std::string_view rest(path);
  while (!rest.empty()) {
    const auto colon = rest.find(':');
    const std::string_view entry = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (entry.empty()) continue;
    fs::path candidate = fs::path(entry) / program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

/// Starts @p program without waiting for it: an intermediate child starts it
/// and exits at once, so nothing is left for this process to reap later.
bool launchDetachedProcess(const fs::path& program) {
  const std::string file = program.string();
  char* const argv[] = {const_cast<char*>(file.c_str()), nullptr};
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    // Only async-signal-safe calls between fork and exec.
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::setsid();
      ::execv(argv[0], argv);
      ::_exit(127);
    }
    ::_exit(grandchild < 0 ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class LinuxPermissionBackend final : public PermissionBackend {
 public:
  AuthorizationStatus status(MediaAccess media) const override {
    return media == MediaAccess::camera ? cameraStatus() : photoLibraryStatus();
  }

  void requestAccess(MediaAccess media, std::function<void(bool granted)> answer) override {
    answer(status(media) == AuthorizationStatus::authorized);
  }

  bool openSettings() override {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0')) {
      return false;
    }
    for (const char* program : {"gnome-control-center", "systemsettings", "systemsettings5",
                                "xfce4-settings-manager", "mate-control-center"}) {
      if (auto found = findInPath(program)) return launchDetachedProcess(*found);
    }
    return false;
  }
};

}  // namespace

std::shared_ptr<PermissionBackend> makeLinuxPermissionBackend() {
  return std::make_shared<LinuxPermissionBackend>();
}

}  // namespace corvenza::device
