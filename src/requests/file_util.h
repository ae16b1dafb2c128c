#pragma once
// Where upload objects keep their temporary files, and under which key a
// photo is stored.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "core/result.h"
#include "requests/client_state.h"

namespace corvenza::requests {

class FileUtil {
 public:
  /// A fresh, empty file for @p name:
  /// "<dir>/<yyyyMMddhhmmsss>-<owner>-<unique>-<name>" where <dir> is
  /// privateTemporaryDirectory() and <owner> marks this process (see
  /// removeAbandonedTempFiles). Created exclusively with mode 0600, so two
  /// files of one name made in the same second never collide.
  /// The empty string when it cannot be made.
  static std::string generateTempPathFor(const std::string& name);

  /// As generateTempPathFor(), writing @p data into the file through the
  /// descriptor that created it. Errors name the failure, not the path.
  static detail::Result<std::filesystem::path> writeTempFile(const std::string& name,
                                                             std::span<const std::uint8_t> data);

  /// "<temporary directory>/corvenza-<uid>", made with mode 0700 when missing.
  /// Photos of a person's body go there, so a directory that is a symbolic
  /// link or belongs to another user is refused, and loose permissions on our
  /// own are tightened.
  static detail::Result<std::filesystem::path> privateTemporaryDirectory();

  /// "<identity id>/<objectId>/<name>", the identity being that of @p state's
  /// developer identity provider. Without one, writes the console line
  /// "no cognito identity" and returns the empty string.
  static std::string generateBucketKeyPathFor(const ClientState& state, const std::string& objectId,
                                              const std::string& name);
  /// "<identityId>/<objectId>/<name>": where a request's photo is stored.
  static std::string bucketKey(const std::string& identityId, const std::string& objectId,
                               const std::string& name);

  /// Removes files of the private temporary folder that no running process
  /// holds: photos left by a process killed before its creation ended, and
  /// unmarked files (of older versions) older than @p unmarkedAge.
  static void removeAbandonedTempFiles(std::chrono::minutes unmarkedAge);

  /// @p when in local time as "yyyyMMddhhmmsss": 12-hour clock without a
  /// marker, seconds padded to three digits.
  static std::string timeStamp(std::chrono::system_clock::time_point when);
};

}  // namespace corvenza::requests
