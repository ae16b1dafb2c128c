#pragma once
// Headless Chromium for a test, driven over the DevTools protocol on a pipe
// (--remote-debugging-pipe): no port, no WebSocket, nothing but the two
// descriptors the browser reads commands from and writes answers to.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

namespace corvenza::test {

class HeadlessBrowser {
 public:
  /// The browser the tests use: $CORVENZA_CHROMIUM, else /usr/bin/chromium.
  static std::string executable();

  /// Starts @p executable with a fresh profile in a temporary directory and a
  /// @p width x @p height page, and attaches to that page. Check ok().
  HeadlessBrowser(const std::string& executable, int width, int height);
  /// Closes the browser (and anything it started), then removes its profile.
  ~HeadlessBrowser();
  HeadlessBrowser(const HeadlessBrowser&) = delete;
  HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

  /// Whether the browser started and its page is attached.
  bool ok() const { return started_; }
  /// What went wrong last: at start, or in the latest call that failed.
  const std::string& error() const { return error_; }
  /// What the browser wrote on standard error.
  std::string log() const;

  /// Sends a DevTools command to the page and returns its result; nothing
  /// (a null) on an error answer or no answer within @p limit, with error() set.
  nlohmann::json call(const std::string& method,
                      const nlohmann::json& params = nlohmann::json::object(),
                      std::chrono::milliseconds limit = std::chrono::seconds(20));

  /// Loads @p url in the page.
  bool navigate(const std::string& url);
  /// The value of the JavaScript expression @p expression (JSON-serialisable).
  nlohmann::json evaluate(const std::string& expression);
  /// Evaluates @p expression until it is true, at most @p limit.
  bool waitFor(const std::string& expression, std::chrono::milliseconds limit);
  /// A PNG of the page's viewport.
  std::string screenshot();

 private:
  nlohmann::json send(const nlohmann::json& message, std::chrono::milliseconds limit);

  std::filesystem::path profile_;
  pid_t pid_ = -1;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  std::string received_;
  int nextId_ = 1;
  std::string session_;
  std::string error_;
  bool started_ = false;
};

}  // namespace corvenza::test
