#pragma once
// Runs the corvenza-emulator program as a child process for a test: a free
// loopback port, a fresh data directory, its endpoints read from the line it
// prints when ready, and a SIGTERM when the test is done with it.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace corvenza::test {

class EmulatorProcess {
 public:
  /// Starts @p executable with --port 0, --data-dir inside a fresh temporary
  /// directory and @p extraArgs, and waits up to @p readyLimit for its ready
  /// line. Check ok() (and error()) afterwards. Its standard error goes to
  /// logPath().
  explicit EmulatorProcess(const std::string& executable, std::vector<std::string> extraArgs = {},
                           std::chrono::milliseconds readyLimit = std::chrono::seconds(30));
  /// Stops the child (SIGTERM, then SIGKILL if it lingers) and removes the directory.
  ~EmulatorProcess();
  EmulatorProcess(const EmulatorProcess&) = delete;
  EmulatorProcess& operator=(const EmulatorProcess&) = delete;

  bool ok() const { return error_.empty(); }
  /// Why the start failed; empty when it did not.
  const std::string& error() const { return error_; }

  /// The ready line exactly as printed.
  const std::string& readyLine() const { return readyLine_; }
  /// A string member of the ready line ("base", "auth", "identity", "api_key", ...).
  std::string endpoint(const std::string& key) const;
  const std::filesystem::path& dataDir() const { return dataDir_; }
  const std::filesystem::path& logPath() const { return logPath_; }
  /// Everything the child wrote to standard error so far.
  std::string log() const;

  /// Sends @p signal and waits up to @p limit for the child to end. Returns
  /// its exit code, or nothing when it did not exit normally in time.
  std::optional<int> stop(int signal, std::chrono::milliseconds limit = std::chrono::seconds(10));

 private:
  std::filesystem::path root_;
  std::filesystem::path dataDir_;
  std::filesystem::path logPath_;
  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  std::string readyLine_;
  std::string error_;
};

}  // namespace corvenza::test
