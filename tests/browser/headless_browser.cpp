#include "browser/headless_browser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/encoding/base64.h"

extern char** environ;

namespace corvenza::test {
namespace {

using Clock = std::chrono::steady_clock;

// Descriptors above the ones the child's 3 and 4 become, so that dup2 never
// meets itself.
int highDescriptor(int fd) {
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return moved;
}

}  // namespace

std::string HeadlessBrowser::executable() {
  if (const char* chosen = std::getenv("CORVENZA_CHROMIUM"); chosen && *chosen) return chosen;
  return "/usr/bin/chromium";
}

HeadlessBrowser::HeadlessBrowser(const std::string& executable, int width, int height) {
  auto pattern = (std::filesystem::temp_directory_path() / "corvenza-browser-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    error_ = "cannot make a profile directory";
    return;
  }
  profile_ = pattern;

  int commands[2];
  int answers[2];
  if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0) {
    error_ = std::string("pipe failed: ") + std::strerror(errno);
    return;
  }
  const int childIn = highDescriptor(commands[0]);
  const int childOut = highDescriptor(answers[1]);
  toBrowser_ = commands[1];
  fromBrowser_ = answers[0];

  // Loopback only: every host name but the loopback address fails to resolve,
  // and the background services that would call out are off.
  std::vector<std::string> args = {
      executable,
      "--headless",
      "--no-sandbox",
      "--disable-gpu",
      "--disable-dev-shm-usage",
      "--disable-quic",
      "--no-first-run",
      "--no-default-browser-check",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--disable-extensions",
      "--disable-default-apps",
      "--disable-features=Translate,MediaRouter,OptimizationHints",
      "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1, EXCLUDE localhost",
      "--hide-scrollbars",
      "--mute-audio",
      "--force-device-scale-factor=1",
      "--window-size=" + std::to_string(width) + "," + std::to_string(height),
      "--user-data-dir=" + (profile_ / "profile").string(),
      "--remote-debugging-pipe",
      "about:blank"};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, childIn, 3);
  posix_spawn_file_actions_adddup2(&actions, childOut, 4);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const auto logPath = profile_ / "browser.log";
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  // Its own process group, so that its helpers can be ended with it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int rc =
      posix_spawn(&pid_, executable.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(childIn);
  close(childOut);
  if (rc != 0) {
    pid_ = -1;
    error_ = "cannot start " + executable + ": " + std::strerror(rc);
    return;
  }

  const auto target =
      send({{"method", "Target.createTarget"}, {"params", {{"url", "about:blank"}}}},
           std::chrono::seconds(30));
  if (!target.is_object() || !target.contains("targetId")) {
    if (error_.empty()) error_ = "the browser made no page";
    error_ += "; browser log: " + log();
    return;
  }
  const auto attached = send({{"method", "Target.attachToTarget"},
                              {"params", {{"targetId", target["targetId"]}, {"flatten", true}}}},
                             std::chrono::seconds(10));
  if (!attached.is_object() || !attached.contains("sessionId")) {
    if (error_.empty()) error_ = "cannot attach to the page";
    return;
  }
  session_ = attached["sessionId"].get<std::string>();
  call("Emulation.setDeviceMetricsOverride",
       {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}});
  call("Page.enable");
  started_ = call("Runtime.enable").is_object();
}

HeadlessBrowser::~HeadlessBrowser() {
  if (pid_ > 0) {
    // Ask first; a browser that does not close in a few seconds is ended.
    if (toBrowser_ >= 0) {
      const auto message = nlohmann::json{{"id", nextId_++}, {"method", "Browser.close"}}.dump();
      [[maybe_unused]] auto written = write(toBrowser_, message.c_str(), message.size() + 1);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    bool exited = false;
    while (!exited && Clock::now() < deadline) {
      exited = waitpid(pid_, nullptr, WNOHANG) == pid_;
      // Polling a child's exit: there is no descriptor to wait on.
      if (!exited) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(-pid_, SIGKILL);
    if (!exited) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (toBrowser_ >= 0) close(toBrowser_);
  if (fromBrowser_ >= 0) close(fromBrowser_);
  if (!profile_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(profile_, ignored);
  }
}

std::string HeadlessBrowser::log() const {
  std::ifstream in(profile_ / "browser.log");
  std::ostringstream text;
  text << in.rdbuf();
  auto all = text.str();
  return all.size() > 4000 ? all.substr(all.size() - 4000) : all;
}

nlohmann::json HeadlessBrowser::send(const nlohmann::json& message,
                                     std::chrono::milliseconds limit) {
  auto command = message;
  const int id = nextId_++;
  command["id"] = id;
  if (!session_.empty()) command["sessionId"] = session_;
  const auto text = command.dump();
  // Messages on the pipe end with a NUL byte.
  std::string_view rest(text.c_str(), text.size() + 1);
  while (!rest.empty()) {
    const auto n = write(toBrowser_, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = "the browser stopped reading commands";
      return nullptr;
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }

  const auto deadline = Clock::now() + limit;
  for (;;) {
    for (auto end = received_.find('\0'); end != std::string::npos; end = received_.find('\0')) {
      const auto answer = nlohmann::json::parse(received_.substr(0, end), nullptr, false);
      received_.erase(0, end + 1);
      // Events (no id) and answers to earlier commands are not waited for.
      if (!answer.is_object() || answer.value("id", -1) != id) continue;
      if (answer.contains("error")) {
        error_ = message.value("method", "") + " failed: " + answer["error"].dump();
        return nullptr;
      }
      return answer.value("result", nlohmann::json::object());
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      error_ = "no answer to " + message.value("method", "") + " in time";
      return nullptr;
    }
    pollfd pfd{fromBrowser_, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[65536];
    const auto n = read(fromBrowser_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = "the browser closed its pipe; log: " + log();
      return nullptr;
    }
    received_.append(buffer, static_cast<std::size_t>(n));
  }
}

nlohmann::json HeadlessBrowser::call(const std::string& method, const nlohmann::json& params,
                                     std::chrono::milliseconds limit) {
  return send({{"method", method}, {"params", params}}, limit);
}

bool HeadlessBrowser::navigate(const std::string& url) {
  const auto result = call("Page.navigate", {{"url", url}});
  if (result.is_object() && result.contains("errorText")) {
    error_ = "cannot load " + url + ": " + result["errorText"].get<std::string>();
    return false;
  }
  return result.is_object();
}

nlohmann::json HeadlessBrowser::evaluate(const std::string& expression) {
  const auto result =
      call("Runtime.evaluate",
           {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}});
  if (!result.is_object() || result.contains("exceptionDetails")) {
    if (result.is_object()) error_ = "script failed: " + result["exceptionDetails"].dump();
    return nullptr;
  }
  return result["result"].value("value", nlohmann::json());
}

bool HeadlessBrowser::waitFor(const std::string& expression, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (evaluate("Boolean(" + expression + ")") == true) return true;
    if (Clock::now() >= deadline) return false;
    // The page changes on its own (events, images): look again shortly.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::string HeadlessBrowser::screenshot() {
  const auto result = call("Page.captureScreenshot", {{"format", "png"}});
  if (!result.is_object() || !result.contains("data")) return {};
  return encoding::base64Decode(result["data"].get<std::string>()).value_or("");
}

}  // namespace corvenza::test
