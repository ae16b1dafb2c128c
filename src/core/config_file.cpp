#include "core/config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/unique_fd.h"

namespace corvenza::detail {
namespace {

Error fileError(std::string description) {
  return Error("CorvenzaFileError", 9, std::nullopt, std::move(description));
}

}  // namespace

Result<std::string> readConfigurationFile(const std::filesystem::path& path) {
  // Non-blocking, so that opening a FIFO does not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fileError(std::string("it cannot be opened (") + std::strerror(errno) + ")");
  detail::UniqueFd closer(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return fileError("it is not a regular file");
  }
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxConfigurationBytes) {
    return fileError("it is larger than 1 MiB");
  }
  std::string bytes;
  char buffer[8192];
  for (;;) {
    const auto got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fileError(std::string("reading failed (") + std::strerror(errno) + ")");
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
    if (bytes.size() > kMaxConfigurationBytes) return fileError("it is larger than 1 MiB");
  }
  return bytes;
}

}  // namespace corvenza::detail
