#include "cli_session.h"

#include <iostream>

namespace corvenza::cli {

void addGlobalOptions(CLI::App& command, GlobalOptions& options) {
  command.add_option("--bundle", options.bundle, "Directory holding corvenza-config.json")
      ->envname("CORVENZA_BUNDLE_DIR");
  command.add_option("--api-url", options.apiUrl, "Base URL of the authentication service")
      ->envname("CORVENZA_API_URL");
  command.add_option("--api-key", options.apiKey, "API key of the authentication service")
      ->envname("CORVENZA_API_KEY");
  command.add_option("--user-id", options.userId, "User on whose behalf tokens are requested")
      ->envname("CORVENZA_USER_ID");
  command.add_flag("--verbose", options.verbose, "Show the library's console lines on stderr");
}

std::unique_ptr<Session> Session::start(const GlobalOptions& options) {
  const bool verbose = options.verbose;
  setConsoleSink([verbose](std::string_view line) {
    if (verbose) std::cerr << line << '\n';
  });
  if (!options.bundle.empty()) Bundle::setMainBundleDirectory(options.bundle);
  if (options.apiUrl.empty() || options.apiKey.empty()) {
    std::cerr << "corvenza: --api-url and --api-key (or CORVENZA_API_URL and CORVENZA_API_KEY) "
                 "are required\n";
    return nullptr;
  }
  std::unique_ptr<Session> session(new Session());
  session->queue_ = MainQueue::callerDriven();
  CorvenzaEnterprise::setMainQueue(session->queue_);

  auto provider = std::make_shared<DirectTokenProvider>(options.apiUrl, options.apiKey);
  if (!options.userId.empty()) provider->setUserId(options.userId);
  try {
    CorvenzaEnterprise::initialize(provider);
  } catch (const CorvenzaException& e) {
    std::cerr << "corvenza: start-up failed: no corvenza-config.json in "
              << Bundle::mainBundleDirectory() << "\n";
    printErrors({e.error()});
    return nullptr;
  }
  return session;
}

Session::~Session() { setConsoleSink(nullptr); }

bool Session::runUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  return queue_->runUntil(done, limit);
}

void printErrors(const Errors& errors) {
  for (const auto& error : errors) {
    std::cerr << error.domain() << " " << error.code() << ": " << error.localizedDescription()
              << "\n";
  }
}

}  // namespace corvenza::cli
