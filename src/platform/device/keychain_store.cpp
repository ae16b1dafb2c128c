// The file-backed key store. Every change is a locked read-modify-write that
// replaces the file atomically, so a crash leaves either the old or the new
// file and two processes never lose each other's entries.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string_view>

#include "core/unique_fd.h"
#include "platform/device/key_store.h"
#include "platform/device/private_directory.h"

namespace corvenza::device {

namespace {

namespace fs = std::filesystem;

// Holds an flock on the lock file, so other processes wait their turn.
class FileLock {
 public:
  FileLock(const fs::path& path, int operation)
      : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_.get() < 0) return;
    int rc;
    do {
      rc = ::flock(fd_.get(), operation);
    } while (rc != 0 && errno == EINTR);
    locked_ = rc == 0;
  }
  ~FileLock() {
    if (locked_) ::flock(fd_.get(), LOCK_UN);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool locked() const { return locked_; }

 private:
  detail::UniqueFd fd_;
  bool locked_ = false;
};

std::string fileNamePart(std::string_view prefix) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : prefix) {
    if (std::isalnum(c) || c == '-' || c == '.') {
      out.push_back(static_cast<char>(c));
    } else {
      out += '_';
      out.push_back(kDigits[c >> 4]);
      out.push_back(kDigits[c & 0x0f]);
    }
  }
  return out;
}

// Tokens are kept only in a directory of this user's that nobody else can enter.
bool ensureDirectory(const fs::path& dir) { return ensurePrivateDirectory(dir).ok(); }

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const auto written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

class KeychainStore final : public KeyStore {
 public:
  KeychainStore(std::string prefix, fs::path directory)
      : prefix_(std::move(prefix)),
        directory_(std::move(directory)),
        file_(directory_ / ("keychain-" + fileNamePart(prefix_) + ".json")),
        lockFile_(directory_ / ("keychain-" + fileNamePart(prefix_) + ".lock")) {}

  std::optional<std::string> get(const std::string& name) override {
    std::lock_guard guard(mutex_);
    if (!ensureDirectory(directory_)) return std::nullopt;
    FileLock lock(lockFile_, LOCK_SH);
    if (!lock.locked()) return std::nullopt;
    const auto entries = readEntries();
    const auto it = entries.find(prefix_ + name);
    if (it == entries.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  }

  bool set(const std::string& value, const std::string& name) override {
    return change([&](nlohmann::json& entries) {
      entries[prefix_ + name] = value;
      return true;
    });
  }

  bool remove(const std::string& name) override {
    return change([&](nlohmann::json& entries) { return entries.erase(prefix_ + name) > 0; });
  }

 private:
  template <typename Edit>
  bool change(Edit edit) {
    std::lock_guard guard(mutex_);
    if (!ensureDirectory(directory_)) return false;
    FileLock lock(lockFile_, LOCK_EX);
    if (!lock.locked()) return false;
    auto entries = readEntries();
    if (!edit(entries)) return false;
    return replaceFile(entries);
  }

  // A missing or damaged file reads as empty; the next write repairs it.
  nlohmann::json readEntries() const {
    detail::UniqueFd fd(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return nlohmann::json::object();
    std::string text;
    char buffer[4096];
    for (;;) {
      const auto got = ::read(fd.get(), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      text.append(buffer, static_cast<size_t>(got));
    }
    auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded() || !json.is_object()) return nlohmann::json::object();
    return json;
  }

  bool replaceFile(const nlohmann::json& entries) const {
    std::string text;
    try {
      text = entries.dump(2);
    } catch (const nlohmann::json::exception&) {
      return false;  // a value that is not UTF-8 cannot be stored
    }
    std::string tempName = (directory_ / ("." + file_.filename().string() + ".XXXXXX")).string();
    detail::UniqueFd fd(::mkostemp(tempName.data(), O_CLOEXEC));  // O_EXCL, mode 0600
    if (fd.get() < 0) return false;
    const bool written = ::fchmod(fd.get(), 0600) == 0 && writeAll(fd.get(), text + "\n") &&
                         ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0;
    if (!written || ::rename(tempName.c_str(), file_.c_str()) != 0) {
      ::unlink(tempName.c_str());
      return false;
    }
    // The rename itself is durable only once the directory is synced.
    detail::UniqueFd dir(::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
  }

  const std::string prefix_;
  const fs::path directory_;
  const fs::path file_;
  const fs::path lockFile_;
  std::mutex mutex_;
};

}  // namespace

std::shared_ptr<KeyStore> makeKeychainStore(std::string keyPrefix,
                                            std::optional<std::filesystem::path> directory) {
  return std::make_shared<KeychainStore>(std::move(keyPrefix),
                                         directory ? *directory : defaultDataDirectory());
}

}  // namespace corvenza::device
