#pragma once
// What every request command shares: the global options, start-up of the
// library with a DirectTokenProvider, and driving the main queue.

#include <corvenza/corvenza.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace corvenza::cli {

struct GlobalOptions {
  std::string bundle;
  std::string apiUrl;
  std::string apiKey;
  std::string userId;
  bool verbose = false;
};

/// Accepts only finite numbers above zero: "NaN" and "inf" are usage errors.
CLI::Validator finitePositiveNumber();
/// Accepts only valid UTF-8 text: ids and tokens travel as JSON strings.
CLI::Validator utf8Text();

/// Adds --bundle, --api-url, --api-key, --user-id (with their environment
/// variables) and --verbose to @p command.
void addGlobalOptions(CLI::App& command, GlobalOptions& options);

/// Starts the library for one command. Library console lines go to standard
/// error with --verbose and are dropped otherwise, so standard output holds
/// only the command's result.
class Session {
 public:
  /// Returns nothing (after printing why) when start-up fails.
  static std::unique_ptr<Session> start(const GlobalOptions& options);
  ~Session();

  /// Runs the main queue until @p done or @p limit; false on time-out.
  bool runUntil(const std::function<bool()>& done, std::chrono::seconds limit);

 private:
  Session() = default;
  std::shared_ptr<MainQueue> queue_;
};

/// Prints each error on standard error as "corvenza: <what happened> [domain
/// code]" (see error_words.h).
void printErrors(const Errors& errors, const std::string& requestId = {});

}  // namespace corvenza::cli
