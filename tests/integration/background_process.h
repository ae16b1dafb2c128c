#pragma once
// A program started in the background through /bin/sh, its standard output
// and error in a log, killed when the test is done with it.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

extern char** environ;

namespace corvenza::test {

class BackgroundProcess {
 public:
  BackgroundProcess(std::string command, const std::filesystem::path& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string shell = "/bin/sh", dashC = "-c";
    char* argv[] = {shell.data(), dashC.data(), command.data(), nullptr};
    if (posix_spawn(&pid_, "/bin/sh", &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~BackgroundProcess() {
    if (running()) ::kill(pid_, SIGKILL);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  }
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  /// False once it ended (or never started).
  bool running() {
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
  }
  bool started() const { return pid_ > 0; }
  void kill(int signal) const {
    if (pid_ > 0) ::kill(pid_, signal);
  }
  /// The exit code, or nothing when it did not exit normally within @p limit.
  std::optional<int> wait(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        return std::nullopt;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
  }

 private:
  pid_t pid_ = -1;
};

}  // namespace corvenza::test
