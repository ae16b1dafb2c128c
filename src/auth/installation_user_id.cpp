// One anonymous user id per OS user and machine, made once and kept beside
// the token store, so that an application without users of its own keeps one
// identity across refreshes and runs.

#include <corvenza/direct_token_provider.h>
#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string>

#include "core/unique_fd.h"
#include "platform/device/private_directory.h"
#include "platform/sigv4/crypto.h"

namespace corvenza {
namespace {

constexpr const char* kFileName = "installation-user-id";
constexpr const char* kPrefix = "anonymous-";
constexpr std::size_t kMaxLength = 128;

Error idError(std::string description) {
  return Error(device::kFileErrorDomain, 8, std::nullopt, std::move(description));
}

bool isValidId(const std::string& id) {
  if (id.empty() || id.size() > kMaxLength) return false;
  for (unsigned char c : id) {
    if (!(std::isalnum(c) || c == '-' || c == '_')) return false;
  }
  return true;
}

// The stored id; nothing when there is no file or it holds no valid id.
std::optional<std::string> readId(const std::filesystem::path& file) {
  detail::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    return std::nullopt;
  }
  char buffer[kMaxLength + 2];
  ssize_t got;
  do {
    got = ::read(fd.get(), buffer, sizeof buffer);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return std::nullopt;
  std::string id(buffer, static_cast<std::size_t>(got));
  while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
  if (!isValidId(id)) return std::nullopt;
  return id;
}

std::optional<std::string> newId() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return std::nullopt;
  return kPrefix + sigv4::hex(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

// Writes @p id to a fresh file and renames it into place, so a reader sees
// the old file or the whole new one.
bool storeId(const std::filesystem::path& directory, const std::filesystem::path& file,
             const std::string& id) {
  std::string temporary = (directory / (std::string(".") + kFileName + ".XXXXXX")).string();
  detail::UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  const std::string text = id + "\n";
  const bool written =
      ::fchmod(fd.get(), 0600) == 0 &&
      ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
      ::fsync(fd.get()) == 0;
  if (written && ::rename(temporary.c_str(), file.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace

std::optional<std::string> DirectTokenProvider::installationUserId(Error* error) {
  auto fail = [&](std::string why) -> std::optional<std::string> {
    if (error) *error = idError(std::move(why));
    return std::nullopt;
  };
  auto directory = device::ensurePrivateDirectory(device::defaultDataDirectory());
  if (!directory) {
    if (error) *error = directory.error();
    return std::nullopt;
  }
  const auto file = *directory / kFileName;
  if (auto stored = readId(file)) return stored;

  // Made under a lock, so that processes and threads starting at once agree
  // on one id; a file that is there but unusable (empty, damaged, a link) is
  // replaced.
  const auto lockPath = *directory / (std::string(kFileName) + ".lock");
  detail::UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  int locked;
  do {
    locked = lock.get() >= 0 ? ::flock(lock.get(), LOCK_EX) : -1;
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return fail("The installation user id cannot be locked");
  if (auto stored = readId(file)) return stored;
  auto id = newId();
  if (!id) return fail("No random user id can be made");
  if (!storeId(*directory, file, *id)) return fail("The installation user id cannot be stored");
  return id;
}

}  // namespace corvenza
