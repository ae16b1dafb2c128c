#include "cli_session.h"

#include <iostream>

namespace corvenza::cli {

namespace {

// Without --user-id each refresh would bring a new anonymous identity, and
// with it the loss of every request made before; the installation's own id
// keeps one.
std::optional<std::string> userIdFor(const GlobalOptions& options) {
  if (!options.userId.empty()) return options.userId;
  Error why("CorvenzaFileError", 0);
  if (auto id = DirectTokenProvider::installationUserId(&why)) return id;
  std::cerr << "corvenza: warning: no installation user id (" << why.localizedDescription()
            << "); this run gets an identity of its own\n";
  return std::nullopt;
}

std::string startupFailure(const Error& error) {
  if (error.userInfo()) {
    if (auto detail = error.userInfo()->find("detail"); detail != error.userInfo()->end()) {
      return detail->second;
    }
  }
  return "no corvenza-config.json in " + Bundle::mainBundleDirectory().string();
}

}  // namespace

void addGlobalOptions(CLI::App& command, GlobalOptions& options) {
  command.add_option("--bundle", options.bundle, "Directory holding corvenza-config.json")
      ->envname("CORVENZA_BUNDLE_DIR");
  command.add_option("--api-url", options.apiUrl, "Base URL of the authentication service")
      ->envname("CORVENZA_API_URL");
  command.add_option("--api-key", options.apiKey, "API key of the authentication service")
      ->envname("CORVENZA_API_KEY");
  command
      .add_option("--user-id", options.userId,
                  "User on whose behalf tokens are requested; without one, this installation's "
                  "own anonymous id (made once, kept in installation-user-id beside the token "
                  "store), so that requests stay yours from run to run")
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
  provider->setUserId(userIdFor(options));
  try {
    CorvenzaEnterprise::initialize(provider);
  } catch (const CorvenzaException& e) {
    std::cerr << "corvenza: start-up failed: " << startupFailure(e.error()) << "\n";
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
