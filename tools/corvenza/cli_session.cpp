#include "cli_session.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string_view>

#include "error_words.h"

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

// What is wrong with the bundle's corvenza-config.json when start-up found
// none it could read and said no more.
std::string whyNoConfiguration() {
  const auto directory = Bundle::mainBundleDirectory();
  const auto file = directory / "corvenza-config.json";
  struct stat info {};
  if (::stat(file.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return file.string() + " is a folder, not a file";
  } else if (const int why = errno; ::lstat(file.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    if (why == ELOOP) return file.string() + " is a link that leads round in a loop";
    if (why == ENOENT) return file.string() + " is a link to nothing";
    return file.string() + " is a link that cannot be followed (" + std::strerror(why) + ")";
  } else if (why != ENOENT) {
    return file.string() + " cannot be used (" + std::strerror(why) + ")";
  }
  return "no corvenza-config.json in " + directory.string();
}

// The service a URL names, written one way: scheme and host in lower case,
// no trailing slashes. A URL already so written is kept as it is, so the
// folders named after it stay the same.
std::string serviceName(const std::string& url) {
  const auto lower = [](std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  const auto scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  const auto start = scheme + 3;
  const auto pathStart = std::min(url.find_first_of("/?#", start), url.size());
  const auto suffixStart = std::min(url.find_first_of("?#", pathStart), url.size());
  auto authority = url.substr(start, pathStart - start);
  const auto at = authority.rfind('@');
  const auto hostStart = at == std::string::npos ? 0 : at + 1;
  authority = authority.substr(0, hostStart) + lower(authority.substr(hostStart));
  auto path = url.substr(pathStart, suffixStart - pathStart);
  while (!path.empty() && path.back() == '/') path.pop_back();
  return lower(url.substr(0, scheme)) + "://" + authority + path + url.substr(suffixStart);
}

bool isUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80           ? 1
                         : (c >> 5) == 0x6  ? 2
                         : (c >> 4) == 0xE  ? 3
                         : (c >> 3) == 0x1E ? 4
                                            : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t point = length == 1 ? c : c & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next >> 6) != 0x2) return false;
      point = (point << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and points past U+10FFFF are not UTF-8.
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kSmallest[length] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) {
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

CLI::Validator finitePositiveNumber() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        double value = 0;
        try {
          std::size_t used = 0;
          value = std::stod(text, &used);
          if (used != text.size()) return "'" + text + "' is not a number";
        } catch (const std::exception&) {
          return "'" + text + "' is not a number";
        }
        if (!std::isfinite(value) || !(value > 0)) {
          return "'" + text + "' is not a finite number above zero";
        }
        return {};
      },
      "POSITIVE");
}

CLI::Validator wholeNumber(int min, int max, const std::string& unit) {
  const auto words = "must be a whole number" + (unit.empty() ? "" : " of " + unit) + " from " +
                     std::to_string(min) + " to " + std::to_string(max);
  return CLI::Validator(
      [min, max, words](std::string& text) -> std::string {
        std::string_view digits = text;
        if (digits.starts_with('+')) digits.remove_prefix(1);
        long long value = 0;
        const auto end = digits.data() + digits.size();
        const auto [stop, failed] = std::from_chars(digits.data(), end, value);
        if (failed != std::errc() || stop != end || value < min || value > max) return words;
        return {};
      },
      // The words say the range; the help's type column stays short.
      "");
}

std::string startupFailure(const Error& error) {
  if (const auto detail = error.userInfoValue(error_info::kDetail)) return *detail;
  return whyNoConfiguration();
}

bool isWebUrl(std::string_view url) {
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (url.starts_with(scheme)) {
      const auto host = url.substr(scheme.size());
      return !host.empty() && host.front() != ':' && host.front() != '/';
    }
  }
  return false;
}

CLI::Validator webUrl() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return isWebUrl(text) ? std::string() : "'" + text + "' is not an http or https URL";
      },
      "URL");
}

CLI::Validator utf8Text() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return isUtf8(text) ? std::string() : "the value is not valid UTF-8 text";
      },
      "TEXT");
}

void addGlobalOptions(CLI::App& command, GlobalOptions& options) {
  command.add_option("--bundle", options.bundle, "Directory holding corvenza-config.json")
      ->envname("CORVENZA_BUNDLE_DIR");
  // Checked before anything is sent: without them nothing can be.
  command.add_option("--api-url", options.apiUrl, "Base URL of the authentication service")
      ->envname("CORVENZA_API_URL")
      ->required()
      ->check(webUrl());
  command.add_option("--api-key", options.apiKey, "API key of the authentication service")
      ->envname("CORVENZA_API_KEY")
      ->required()
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return text.empty() ? "the API key is empty" : std::string();
          },
          "KEY"));
  command
      .add_option("--user-id", options.userId,
                  "User on whose behalf tokens are requested; without one, this installation's "
                  "own anonymous id (made once, kept in installation-user-id beside the token "
                  "store), so that requests stay yours from run to run")
      ->envname("CORVENZA_USER_ID")
      ->check(utf8Text());
  command.add_flag("--verbose", options.verbose, "Show the library's console lines on stderr");
}

// Start-up writes some problems only as console lines (an endpoint it
// cannot use) and the command fails later; the last such line explains it.
struct Session::StartupLines {
  std::mutex mutex;
  bool open = true;
  std::string lastError;
};

std::unique_ptr<Session> Session::prepare(const GlobalOptions& options) {
  const bool verbose = options.verbose;
  auto startup = std::make_shared<StartupLines>();
  setConsoleSink([verbose, startup](std::string_view line) {
    if (verbose) std::cerr << line << '\n';
    std::lock_guard lock(startup->mutex);
    if (startup->open && line.starts_with("Error")) startup->lastError = line;
  });
  if (!options.bundle.empty()) Bundle::setMainBundleDirectory(options.bundle);
  if (options.apiUrl.empty() || options.apiKey.empty()) {
    std::cerr << "corvenza: --api-url and --api-key (or CORVENZA_API_URL and CORVENZA_API_KEY) "
                 "are required\n";
    return nullptr;
  }
  std::unique_ptr<Session> session(new Session());
  session->startup_ = std::move(startup);
  session->queue_ = MainQueue::callerDriven();
  CorvenzaEnterprise::setMainQueue(session->queue_);
  const auto userId = userIdFor(options);
  session->provider_ = std::make_shared<DirectTokenProvider>(options.apiUrl, options.apiKey);
  session->provider_->setUserId(userId);
  session->account_ = serviceName(options.apiUrl) + "\n" + userId.value_or("");
  return session;
}

std::unique_ptr<Session> Session::start(const GlobalOptions& options) {
  auto session = prepare(options);
  if (!session) return nullptr;
  try {
    CorvenzaEnterprise::initialize(session->provider_);
  } catch (const CorvenzaException& e) {
    std::cerr << "corvenza: start-up failed: " << startupFailure(e.error()) << " ["
              << e.error().domain() << " " << e.error().code() << "]\n";
    return nullptr;
  }
  session->endStartup();
  return session;
}

std::unique_ptr<Session> Session::startClient(
    const GlobalOptions& options,
    const std::function<std::filesystem::path(const std::string& account)>& cacheFor) {
  auto session = prepare(options);
  if (!session) return nullptr;
  EstimationClientOptions clientOptions;
  clientOptions.tokenProvider = session->provider_;
  clientOptions.mainQueue = session->queue_;
  clientOptions.cacheDirectory = cacheFor(session->account_);
  try {
    session->client_ = EstimationClient::create(std::move(clientOptions));
    setServiceEndpoint(session->client_->graphQLEndpoint());
  } catch (const CorvenzaException& e) {
    std::cerr << "corvenza: start-up failed: " << startupFailure(e.error()) << " ["
              << e.error().domain() << " " << e.error().code() << "]\n";
    return nullptr;
  }
  session->endStartup();
  return session;
}

void Session::endStartup() {
  std::lock_guard lock(startup_->mutex);
  startup_->open = false;
  setStartupProblem(startup_->lastError);
}

Session::~Session() { setConsoleSink(nullptr); }

bool Session::runUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  return queue_->runUntil(done, limit);
}

/// "[#########...........]  45%  1.2 of 2.7 MB": an upload's bytes as a bar.
std::string progressBar(std::uint64_t sent, std::uint64_t total) {
  constexpr int kWidth = 30;
  const auto filled = static_cast<int>(total ? sent * kWidth / total : 0);
  const auto percent = static_cast<int>(total ? sent * 100 / total : 0);
  char figures[64];
  std::snprintf(figures, sizeof figures, "] %3d%%  %.1f of %.1f MB", percent,
                static_cast<double>(sent) / 1e6, static_cast<double>(total) / 1e6);
  return "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + figures;
}

void ProgressLine::draw(const std::string& label, std::uint64_t sent, std::uint64_t total) {
  std::cerr << "\r" << label << progressBar(sent, total) << std::flush;
  shown_ = true;
}

void ProgressLine::end() {
  if (shown_) std::cerr << "\n";
  shown_ = false;
}

void printErrors(const Errors& errors, const std::string& requestId) {
  printErrors(errors, ErrorContext{requestId});
}

void printErrors(const Errors& errors, const ErrorContext& context) {
  for (const auto& error : errors) {
    std::cerr << "corvenza: " << describeError(error, context) << "\n";
  }
}

}  // namespace corvenza::cli
