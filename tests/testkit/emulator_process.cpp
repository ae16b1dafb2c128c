#include "testkit/emulator_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

extern char** environ;

namespace corvenza::test {
namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path makeRoot() {
  auto pattern = (std::filesystem::temp_directory_path() / "corvenza-emu-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return {};
  return pattern;
}

}  // namespace

EmulatorProcess::EmulatorProcess(const std::string& executable, std::vector<std::string> extraArgs,
                                 std::chrono::milliseconds readyLimit) {
  root_ = makeRoot();
  if (root_.empty()) {
    error_ = "cannot make a temporary directory";
    return;
  }
  dataDir_ = root_ / "data";
  logPath_ = root_ / "emulator.log";

  std::vector<std::string> args = {executable, "--port", "0", "--data-dir", dataDir_.string()};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error_ = std::string("pipe failed: ") + std::strerror(errno);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int rc = posix_spawn(&pid_, executable.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  stdoutFd_ = fds[0];
  if (rc != 0) {
    pid_ = -1;
    error_ = "cannot start " + executable + ": " + std::strerror(rc);
    return;
  }

  // Read up to the first newline, within the time limit.
  const auto deadline = Clock::now() + readyLimit;
  std::string received;
  while (received.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      error_ = "the emulator did not report ready in time";
      return;
    }
    pollfd pfd{stdoutFd_, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[4096];
    const auto n = read(stdoutFd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = "the emulator closed its output before it was ready; log: " + log();
      return;
    }
    received.append(buffer, static_cast<std::size_t>(n));
  }
  readyLine_ = received.substr(0, received.find('\n'));
  if (!nlohmann::json::accept(readyLine_)) error_ = "the ready line is not JSON: " + readyLine_;
}

EmulatorProcess::~EmulatorProcess() {
  if (pid_ > 0) stop(SIGTERM);
  // Still running after a polite request: pid_ stays positive only then.
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (stdoutFd_ >= 0) close(stdoutFd_);
  if (!root_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
}

std::string EmulatorProcess::endpoint(const std::string& key) const {
  const auto line = nlohmann::json::parse(readyLine_, nullptr, false);
  if (!line.is_object() || !line.contains(key) || !line[key].is_string()) return {};
  return line[key].get<std::string>();
}

std::string EmulatorProcess::log() const {
  std::ifstream in(logPath_);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<int> EmulatorProcess::stop(int signal, std::chrono::milliseconds limit) {
  if (pid_ <= 0) return std::nullopt;
  kill(pid_, signal);
  const auto deadline = Clock::now() + limit;
  for (;;) {
    int status = 0;
    const auto done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return std::nullopt;
    }
    if (done < 0) {
      pid_ = -1;  // Already reaped or not our child: never signal that id again.
      return std::nullopt;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    // Polling a child's exit: there is no descriptor to wait on.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace corvenza::test
