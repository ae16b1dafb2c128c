#include "requests/file_util.h"

#include <corvenza/console.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>

#include "auth/developer_identity_provider.h"
#include "core/unique_fd.h"
#include "platform/device/private_directory.h"

namespace corvenza::requests {
namespace {

Error fileError(int code, std::string description) {
  return Error(device::kFileErrorDomain, code, std::nullopt, std::move(description));
}

std::string uniquePart() {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  std::uint64_t value;
  {
    std::lock_guard lock(mutex);
    value = generator();
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
  for (int attempt = 0; attempt < 16; ++attempt) {
    auto path = *dir / (stamp + "-" + uniquePart() + "-" + fileName);
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

std::string FileUtil::generateTempPathFor(const std::string& name) {
  auto path = writeTempFile(name, {});
  return path ? path->string() : std::string();
}

std::string FileUtil::generateBucketKeyPathFor(const ClientState& state,
                                               const std::string& objectId,
                                               const std::string& name) {
  std::shared_ptr<auth::DeveloperAuthenticatedIdentityProvider> provider;
  {
    std::lock_guard lock(state.mutex);
    provider = state.developerIdentityProvider;
  }
  const auto identityId = provider ? provider->identityId() : std::string();
  if (identityId.empty()) {
    consoleLine("no cognito identity");
    return "";
  }
  return identityId + "/" + objectId + "/" + name;
}

}  // namespace corvenza::requests
