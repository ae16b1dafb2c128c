#include "base/private_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/random.h"
#include "core/unique_fd.h"

namespace corvenza::emulator {
namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

std::error_code writeAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const auto written = ::write(fd, content.data(), content.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return lastError();
    if (written == 0) return std::make_error_code(std::errc::io_error);
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

}  // namespace

std::error_code makePrivateDirectories(const std::filesystem::path& dir) {
  std::filesystem::path made;
  for (const auto& part : dir) {
    made /= part;
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) return lastError();
  }
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return {};
  return ec ? ec : std::make_error_code(std::errc::not_a_directory);
}

std::error_code makePrivateDataDirectory(const std::filesystem::path& dir) {
  if (const auto failed = makePrivateDirectories(dir)) return failed;
  struct stat info {};
  if (::stat(dir.c_str(), &info) != 0) return lastError();
  if (info.st_uid != ::geteuid()) return std::make_error_code(std::errc::permission_denied);
  if ((info.st_mode & 07777) != 0700 && ::chmod(dir.c_str(), 0700) != 0) return lastError();
  return {};
}

std::error_code replacePrivateFile(const std::filesystem::path& target, std::string_view content) {
  const auto temporary =
      target.parent_path() / (".tmp-" + randomString(12, "abcdefghijklmnopqrstuvwxyz0123456789"));
  detail::UniqueFd file(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file.valid()) return lastError();
  // The umask may have taken the owner's own bits as well.
  std::error_code failed =
      ::fchmod(file.get(), 0600) != 0 ? lastError() : writeAll(file.get(), content);
  if (!failed && ::close(file.release()) != 0) failed = lastError();
  if (!failed && ::rename(temporary.c_str(), target.c_str()) != 0) failed = lastError();
  if (failed) ::unlink(temporary.c_str());
  return failed;
}

}  // namespace corvenza::emulator
