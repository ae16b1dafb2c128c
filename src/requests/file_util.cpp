#include "requests/file_util.h"

#include <corvenza/console.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <random>

#include "auth/developer_identity_provider.h"
#include "core/unique_fd.h"
#include "platform/device/private_directory.h"

namespace corvenza::requests {
namespace {

Error fileError(int code, std::string description) {
  return Error(device::kFileErrorDomain, code, std::nullopt, std::move(description));
}

// The state below is immortal: a photo may still be written on a library
// thread while the process exits.
std::string uniquePart() {
  static auto* mutex = new std::mutex();
  static auto* generator = new std::mt19937_64(std::random_device{}());
  std::uint64_t value;
  {
    std::lock_guard lock(*mutex);
    value = (*generator)();
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// Only the last path component of a name is used, so a name can never place
// the file outside the private directory.
std::string safeName(const std::string& name) {
  auto base = std::filesystem::path(name).filename().string();
  if (base.empty() || base == "." || base == "..") return "file";
  return base;
}

constexpr std::string_view kOwnerPrefix = "owner-";
constexpr std::size_t kOwnerTokenSize = 6 + 16;  // "owner-" and 16 hex digits
constexpr std::string_view kLockSuffix = ".lock";

// Where the owners' lock files live, apart from the photos.
std::filesystem::path ownersOf(const std::filesystem::path& dir) { return dir / "owners"; }

// This process's mark on its temporary files: "owner-<16 hex>", with the
// lock file of that name (in the owners folder) held for the life of the
// process. A process killed mid-upload cannot remove its photo; the next one
// sees the lock free and does. Empty when no lock could be made (files are
// then only removed by their own creation).
std::string ownerToken(const std::filesystem::path& dir) {
  static auto* mutex = new std::mutex();
  static auto* token = new std::string();
  static auto* held = new detail::UniqueFd();
  std::lock_guard lock(*mutex);
  if (!token->empty()) return *token;
  if (!device::ensurePrivateDirectory(ownersOf(dir))) return *token;
  for (int attempt = 0; attempt < 4 && token->empty(); ++attempt) {
    const std::string candidate = std::string(kOwnerPrefix) + uniquePart();
    const auto path = ownersOf(dir) / (candidate + std::string(kLockSuffix));
    detail::UniqueFd fd(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) continue;
    // A sweep that opened the file before the lock was taken removes it; the
    // lock only counts while the name still leads to this file.
    struct stat mine {};
    struct stat named {};
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &mine) != 0 ||
        ::lstat(path.c_str(), &named) != 0 || mine.st_ino != named.st_ino) {
      continue;
    }
    *held = std::move(fd);
    *token = candidate;
  }
  return *token;
}

// The owner token inside a temporary file's name, or nothing.
std::optional<std::string> ownerIn(const std::string& fileName) {
  const auto at = fileName.find(std::string("-") + std::string(kOwnerPrefix));
  if (at == std::string::npos || fileName.size() < at + 1 + kOwnerTokenSize) return std::nullopt;
  return fileName.substr(at + 1, kOwnerTokenSize);
}

bool writeAll(int fd, std::span<const std::uint8_t> data) {
  while (!data.empty()) {
    const auto written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data = data.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::string FileUtil::timeStamp(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  const int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%03d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, hour12, local.tm_min, local.tm_sec);
  return text;
}

detail::Result<std::filesystem::path> FileUtil::privateTemporaryDirectory() {
  std::error_code ec;
  const auto base = std::filesystem::temp_directory_path(ec);
  if (ec) return fileError(1, "There is no temporary directory");
  return device::ensurePrivateDirectory(base / ("corvenza-" + std::to_string(::geteuid())));
}

detail::Result<std::filesystem::path> FileUtil::writeTempFile(const std::string& name,
                                                              std::span<const std::uint8_t> data) {
  auto dir = privateTemporaryDirectory();
  if (!dir) return dir.error();
  const auto stamp = timeStamp(std::chrono::system_clock::now());
  const auto fileName = safeName(name);
  const auto owner = ownerToken(*dir);
  const auto ownerPart = owner.empty() ? std::string() : owner + "-";
  for (int attempt = 0; attempt < 16; ++attempt) {
    auto path = *dir / (stamp + "-" + ownerPart + uniquePart() + "-" + fileName);
    detail::UniqueFd fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
      if (errno == EEXIST) continue;
      return fileError(4, "A temporary file cannot be created");
    }
    // The umask may only have narrowed the mode; make it exactly owner read-write.
    bool ok = ::fchmod(fd.get(), 0600) == 0 && writeAll(fd.get(), data);
    ok = ::close(fd.release()) == 0 && ok;
    if (!ok) {
      ::unlink(path.c_str());
      return fileError(5, "The temporary file cannot be written");
    }
    return path;
  }
  return fileError(4, "A temporary file cannot be created");
}

void FileUtil::removeAbandonedTempFiles(std::chrono::minutes unmarkedAge) {
  auto dir = privateTemporaryDirectory();
  if (!dir) return;
  const auto own = ownerToken(*dir);
  const auto cutoff = std::filesystem::file_time_type::clock::now() - unmarkedAge;
  std::map<std::string, bool> ownerAlive;
  const auto alive = [&](const std::string& owner) {
    if (owner == own) return true;
    if (auto known = ownerAlive.find(owner); known != ownerAlive.end()) return known->second;
    const auto lockPath = ownersOf(*dir) / (owner + std::string(kLockSuffix));
    detail::UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    const bool held = fd.get() >= 0 && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0;
    // Removed while locked, so that no process can take it over meanwhile.
    if (!held) ::unlink(lockPath.c_str());
    return ownerAlive[owner] = held;
  };
  std::error_code error;
  for (const auto& file : std::filesystem::directory_iterator(*dir, error)) {
    const auto name = file.path().filename().string();
    std::error_code ignored;
    if (!file.is_regular_file(ignored)) continue;
    if (auto owner = ownerIn(name)) {
      if (!alive(*owner)) std::filesystem::remove(file.path(), ignored);
    } else if (file.last_write_time(ignored) < cutoff) {
      // Written by a version that did not mark its files.
      std::filesystem::remove(file.path(), ignored);
    }
  }
  // Locks of owners gone that left no photo.
  for (const auto& file : std::filesystem::directory_iterator(ownersOf(*dir), error)) {
    const auto name = file.path().filename().string();
    if (name.rfind(kOwnerPrefix, 0) == 0 && name.size() == kOwnerTokenSize + kLockSuffix.size()) {
      alive(name.substr(0, kOwnerTokenSize));
    }
  }
}

std::string FileUtil::generateTempPathFor(const std::string& name) {
  auto path = writeTempFile(name, {});
  return path ? path->string() : std::string();
}

std::string FileUtil::generateBucketKeyPathFor(const ClientState& state,
                                               const std::string& objectId,
                                               const std::string& name) {
  const auto provider = state.services()->developerIdentityProvider;
  const auto identityId = provider ? provider->identityId() : std::string();
  if (identityId.empty()) {
    consoleLine("no cognito identity");
    return "";
  }
  return bucketKey(identityId, objectId, name);
}

std::string FileUtil::bucketKey(const std::string& identityId, const std::string& objectId,
                                const std::string& name) {
  return identityId + "/" + objectId + "/" + name;
}

}  // namespace corvenza::requests
