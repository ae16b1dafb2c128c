#include "emulator.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>

#include "auth/auth_service.h"
#include "base/loopback.h"
#include "base/private_files.h"
#include "base/random.h"
#include "control/control_service.h"
#include "dashboard/dashboard_service.h"
#include "dashboard/page_layout.h"
#include "estimation/estimator_control.h"
#include "faults/request_faults.h"
#include "gateway/estimation_backend.h"
#include "identity/identity_service.h"
#include "platform/encoding/base64.h"
#include "realtime/realtime_service.h"
#include "server/control_guard.h"
#include "server/http_server.h"
#include "server/tls_relay.h"
#include "storage/storage_service.h"
#include "storage/thumbnail_maker.h"

namespace corvenza::emulator {
namespace {

constexpr const char* kSetupErrorDomain = "EmulatorSetupError";

Error setupError(std::string description) {
  return Error(kSetupErrorDomain, 1, std::nullopt, std::move(description));
}

detail::Result<std::filesystem::path> makeTemporaryDirectory() {
  auto pattern = (std::filesystem::temp_directory_path() / "corvenza-emulator-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return setupError("cannot make a temporary data directory");
  return std::filesystem::path(pattern);
}

// The signing key persists in the data directory so that tokens issued
// before a restart on the same directory still verify.
detail::Result<std::string> loadOrMakeSecret(const std::filesystem::path& dataDir) {
  const auto file = dataDir / "token-secret";
  if (std::ifstream in(file); in) {
    std::string secret;
    std::getline(in, secret);
    if (!secret.empty()) {
      // A key copied in, or left by an older emulator, may be open to others.
      std::error_code ignored;
      std::filesystem::permissions(
          file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ignored);
      return secret;
    }
  }
  auto secret = encoding::base64UrlEncode(randomBytes(32));
  if (const auto failed = replacePrivateFile(file, secret + '\n')) {
    return setupError("cannot write the token key into the data directory: " + failed.message());
  }
  return secret;
}

// Empty unless @p file is a regular file of at most 1 MiB: a FIFO would
// block the start for ever, and no certificate chain is larger.
std::string readWhole(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error) ||
      std::filesystem::file_size(file, error) > 1024 * 1024 || error) {
    return {};
  }
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The certificate and key given, else a private CA and loopback certificate.
detail::Result<TlsIdentity> tlsIdentity(const EmulatorOptions& options) {
  if (options.tlsCertificate.empty() && options.tlsKey.empty()) return makeLoopbackTlsIdentity();
  std::error_code error;
  const auto keyMode = std::filesystem::status(options.tlsKey, error).permissions();
  using std::filesystem::perms;
  if (!error && (keyMode & (perms::group_all | perms::others_all)) != perms::none) {
    // As ssh does: a private key others can read is no longer private.
    return setupError("the TLS key " + options.tlsKey.string() +
                      " can be read by other users: chmod 600 it");
  }
  TlsIdentity identity;
  identity.certificatePem = readWhole(options.tlsCertificate);
  identity.privateKeyPem = readWhole(options.tlsKey);
  if (identity.certificatePem.empty() || identity.privateKeyPem.empty()) {
    return setupError(
        "cannot read the TLS certificate and key (both are needed, as PEM files of at most 1 "
        "MiB)");
  }
  return identity;
}

}  // namespace

Emulator::Emulator() = default;

Emulator::~Emulator() { stop(); }

detail::Result<std::uint16_t> Emulator::start(EmulatorOptions options) {
  if (options.dataDir.empty()) {
    auto dir = makeTemporaryDirectory();
    if (!dir) return dir.error();
    options.dataDir = std::move(*dir);
    ownsDataDir_ = true;
  } else if (const auto failed = makePrivateDataDirectory(options.dataDir)) {
    // It holds every identity's photos and measurements: this user's only.
    return setupError("cannot make the data directory " + options.dataDir.string() +
                      " private to this user: " + failed.message());
  }

  auto secret = options.tokenSecret ? detail::Result<std::string>(*options.tokenSecret)
                                    : loadOrMakeSecret(options.dataDir);
  if (!secret) return secret.error();
  auto store = IdentityStore::open(options.dataDir / "identities.sqlite3", options.region);
  if (!store) return store.error();
  context_ =
      std::make_unique<EmulatorContext>(std::move(options), std::move(*store), std::move(*secret));

  router_.mount("/auth", std::make_shared<AuthService>(*context_));
  router_.mount("/identity", std::make_shared<IdentityService>(*context_));
  router_.mount("/_control",
                std::make_shared<ControlGuard>(std::make_shared<ControlService>(*context_)));
  auto estimation = gql::EstimationBackend::start(*context_, context_->options.dataDir,
                                                  context_->options.estimationDelay);
  if (!estimation) return estimation.error();
  estimation_ = std::move(*estimation);
  router_.mount("/graphql", estimation_->httpService());
  router_.mount("/s3", std::make_shared<StorageService>(*context_));
  estimation_->estimator().setThumbnailMaker(
      makeThumbnailMaker(context_->options.dataDir / "objects"));

  realtime_ = std::make_unique<RealtimeService>(*context_, *estimation_,
                                                context_->options.realtimeKeepAlive,
                                                context_->options.realtimeInitTimeout);
  router_.mount("/_control/drop-realtime-connections",
                std::make_shared<ControlGuard>(realtime_->dropControl()));
  router_.mount("/_control/estimator",
                std::make_shared<ControlGuard>(
                    std::make_shared<estimation::EstimatorControl>(estimation_->estimator())));
  dashboard_ = std::make_shared<dashboard::DashboardService>(estimation_->store(),
                                                             context_->options.dataDir / "objects");
  router_.mount(std::string(dashboard::kDashboardPath), dashboard_);

  server_ = std::make_unique<HttpServer>(router_);
  server_->setAdmission(refuseUnlessLoopback);
  server_->onUpgrade("/graphql/realtime", realtime_->upgradeHandler());
  server_->setFaultSource([context = context_.get()](const Request& request) {
    return faults::takeRequestFault(context->faults, request);
  });
  const auto& settled = context_->options;
  // With TLS the plain server listens on a private port behind the relay.
  auto port = server_->start(settled.host, settled.tls ? 0 : settled.port, settled.threads);
  if (!port) return port.error();
  port_ = *port;
  if (!settled.tls) return port_;
  auto identity = tlsIdentity(settled);
  if (!identity) return identity.error();
  caCertificatePem_ = identity->caCertificatePem;
  tls_ = std::make_unique<TlsRelay>();
  auto secure = tls_->start(settled.host, settled.port, port_, *identity);
  if (!secure) return secure.error();
  port_ = *secure;
  return port_;
}

void Emulator::stop() {
  // Held dashboard event requests are answered while the server still runs.
  if (dashboard_) dashboard_->close();
  if (tls_) {
    tls_->stop();
    tls_.reset();
  }
  // Destroying the server also closes the connections still open.
  if (server_) {
    server_->stop();
    server_.reset();
  }
  realtime_.reset();
  if (estimation_) estimation_->stop();
  if (ownsDataDir_ && context_) {
    std::error_code ignored;
    std::filesystem::remove_all(context_->options.dataDir, ignored);
    ownsDataDir_ = false;
  }
}

nlohmann::ordered_json Emulator::endpoints() const {
  const auto& options = context_->options;
  const auto hostPort = options.host + ":" + std::to_string(port_);
  const auto base = (options.tls ? "https://" : "http://") + hostPort;
  nlohmann::ordered_json endpoints = {
      {"base", base},
      {"auth", base + "/auth"},
      {"identity", base + "/identity"},
      {"graphql", base + "/graphql"},
      {"realtime", (options.tls ? "wss://" : "ws://") + hostPort + "/graphql/realtime"},
      {"s3", base + "/s3"},
      {"api_key", options.apiKey},
      {"region", options.region},
      {"identity_pool_id", options.identityPoolId},
      {"data_dir", options.dataDir.string()},
      {"kms_key_id", options.kmsKeyId},
      {"bucket", options.bucket},
      {"dashboard", base + std::string(dashboard::kDashboardPath) + "/"}};
  // Clients trust this CA, and only it, for the emulator's certificate.
  if (!caCertificatePem_.empty()) endpoints["ca_certificate"] = caCertificatePem_;
  return endpoints;
}

}  // namespace corvenza::emulator
