#pragma once
// What every request command shares: the global options, start-up of the
// library with a DirectTokenProvider, and driving the main queue.

#include <corvenza/corvenza.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "error_words.h"

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
/// Accepts only whole numbers from @p min to @p max, and says so in words
/// ("must be a whole number of seconds from 1 to 600" with @p unit "seconds").
CLI::Validator wholeNumber(int min, int max, const std::string& unit = {});
/// Accepts only valid UTF-8 text: ids and tokens travel as JSON strings.
CLI::Validator utf8Text();
/// Whether @p url is an http:// or https:// URL with a host: the library
/// sends nothing else.
bool isWebUrl(std::string_view url);
/// Accepts only what isWebUrl() does.
CLI::Validator webUrl();

/// Why start-up failed with @p error, in words: its detail, else what is
/// wrong with the bundle's corvenza-config.json (none, a folder, a loop).
std::string startupFailure(const Error& error);

/// Adds --bundle, --api-url, --api-key, --user-id (with their environment
/// variables) and --verbose to @p command; --api-url (http or https) and
/// --api-key are required.
void addGlobalOptions(CLI::App& command, GlobalOptions& options);

/// Starts the library for one command. Library console lines go to standard
/// error with --verbose and are dropped otherwise, so standard output holds
/// only the command's result.
class Session {
 public:
  /// Returns nothing (after printing why) when start-up fails.
  static std::unique_ptr<Session> start(const GlobalOptions& options);
  /// Starts an EstimationClient of its own instead of the facade, with its
  /// offline cache in the folder @p cacheFor names for the session's account.
  /// Nothing (after saying why) on failure.
  static std::unique_ptr<Session> startClient(
      const GlobalOptions& options,
      const std::function<std::filesystem::path(const std::string& account)>& cacheFor);
  ~Session();

  /// Runs the main queue until @p done or @p limit; false on time-out.
  bool runUntil(const std::function<bool()>& done, std::chrono::seconds limit);

  /// The client startClient() made.
  const std::shared_ptr<EstimationClient>& client() const { return client_; }
  /// Names whose requests these are: the service (its URL in one spelling,
  /// however --api-url wrote it) and the user.
  const std::string& account() const { return account_; }

 private:
  Session() = default;
  static std::unique_ptr<Session> prepare(const GlobalOptions& options);
  struct StartupLines;
  /// Hands what start-up wrote of its errors to the messages, and stops listening.
  void endStartup();
  std::shared_ptr<StartupLines> startup_;
  std::shared_ptr<MainQueue> queue_;
  std::shared_ptr<DirectTokenProvider> provider_;
  std::shared_ptr<EstimationClient> client_;
  std::string account_;
};

/// "[#########...........]  45%  1.2 of 2.7 MB": an upload's bytes as a bar.
std::string progressBar(std::uint64_t sent, std::uint64_t total);

/// An upload's bar on standard error, redrawn in place on its line.
class ProgressLine {
 public:
  /// Redraws the bar after @p label.
  void draw(const std::string& label, std::uint64_t sent, std::uint64_t total);
  /// Ends a bar left on its line, so that what follows starts on a new one.
  void end();

 private:
  bool shown_ = false;
};

/// Prints each error on standard error as "corvenza: <what happened> [domain
/// code]" (see error_words.h).
void printErrors(const Errors& errors, const std::string& requestId = {});
/// The same, with what the command was doing.
void printErrors(const Errors& errors, const ErrorContext& context);

}  // namespace corvenza::cli
