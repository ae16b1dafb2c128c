#include "platform/device/private_directory.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace corvenza::device {
namespace {

namespace fs = std::filesystem;

Error fileError(int code, std::string description) {
  return Error(kFileErrorDomain, code, std::nullopt, std::move(description));
}

fs::path homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  // Without $HOME (daemons, cron) the account's own home, never the current directory.
  if (const auto* entry = ::getpwuid(::geteuid()); entry && entry->pw_dir && *entry->pw_dir) {
    return entry->pw_dir;
  }
  std::error_code ec;
  auto temporary = fs::temp_directory_path(ec);
  if (ec) temporary = "/tmp";
  return temporary / ("corvenza-home-" + std::to_string(::geteuid()));
}

fs::path fromEnvironment(const char* own, const char* xdg, const fs::path& fallback) {
  if (const char* dir = std::getenv(own); dir && *dir) return dir;
  if (const char* base = std::getenv(xdg); base && *base && fs::path(base).is_absolute()) {
    return fs::path(base) / "corvenza";
  }
  return homeDirectory() / fallback;
}

}  // namespace

fs::path defaultDataDirectory() {
  return fromEnvironment("CORVENZA_KEYCHAIN_DIR", "XDG_DATA_HOME",
                         fs::path(".local") / "share" / "corvenza");
}

fs::path defaultCacheDirectory() {
  return fromEnvironment("CORVENZA_CACHE_DIR", "XDG_CACHE_HOME", fs::path(".cache") / "corvenza");
}

detail::Result<fs::path> ensurePrivateDirectory(const fs::path& directory) {
  if (directory.empty()) return fileError(2, "No directory was given for private files");
  std::error_code ec;
  if (!fs::is_directory(directory, ec) && directory.has_parent_path() &&
      directory.parent_path() != directory) {
    // Parents are only made, never judged: a shared parent such as /tmp is fine.
    fs::path parent = directory.parent_path();
    if (!fs::is_directory(parent, ec)) {
      if (auto made = ensurePrivateDirectory(parent); !made) return made.error();
    }
  }
  if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
    return fileError(2, "A private directory cannot be made");
  }
  struct stat info {};
  const auto uid = ::geteuid();
  if (::lstat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != uid) {
    return fileError(3,
                     "A private directory is a link, not a directory, or belongs to another user");
  }
  if ((info.st_mode & 0077) != 0 && ::chmod(directory.c_str(), 0700) != 0) {
    return fileError(3, "A private directory cannot be made private");
  }
  return directory;
}

}  // namespace corvenza::device
