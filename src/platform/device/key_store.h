#pragma once
// Secure string storage under a key prefix (the stand-in for the platform
// keychain). Results of set/remove say whether the store was changed.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace corvenza::device {

class KeyStore {
 public:
  virtual ~KeyStore() = default;
  /// The value stored under prefix + @p name, or nothing.
  virtual std::optional<std::string> get(const std::string& name) = 0;
  /// Stores @p value under prefix + @p name.
  virtual bool set(const std::string& value, const std::string& name) = 0;
  /// Deletes prefix + @p name; true when it existed and is gone.
  virtual bool remove(const std::string& name) = 0;
};

/// The file-backed store: entries under @p keyPrefix in a file only the user
/// can read (mode 0600) in @p directory, by default $XDG_DATA_HOME/corvenza,
/// else ~/.local/share/corvenza; CORVENZA_KEYCHAIN_DIR overrides both.
std::shared_ptr<KeyStore> makeKeychainStore(
    std::string keyPrefix, std::optional<std::filesystem::path> directory = std::nullopt);

}  // namespace corvenza::device
