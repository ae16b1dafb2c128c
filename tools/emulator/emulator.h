#pragma once
// The whole emulated cloud side in one object: start it on a loopback port,
// use it, stop it. The command-line program and in-process tests both use it.

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "context/emulator_context.h"
#include "context/emulator_options.h"
#include "core/result.h"
#include "server/router.h"

namespace corvenza::emulator {

class HttpServer;
class TlsRelay;
class RealtimeService;
namespace gql {
class EstimationBackend;
}
namespace dashboard {
class DashboardService;
}

class Emulator {
 public:
  Emulator();
  /// Stops the emulator when still running.
  ~Emulator();
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  /// Prepares the data directory, mounts the services and starts serving.
  /// Returns the bound port. Call once.
  detail::Result<std::uint16_t> start(EmulatorOptions options);

  /// Stops serving and joins the server threads; removes the data directory
  /// when it was a temporary one made by start(). Safe to call more than once.
  void stop();

  /// {"base", "auth", "identity", "graphql", "realtime", "s3", "api_key",
  /// "region", "identity_pool_id", "data_dir", "kms_key_id", "bucket",
  /// "dashboard"}: what a client (or a person with a browser) needs to reach
  /// the emulator. Only after a successful start().
  nlohmann::ordered_json endpoints() const;

  std::uint16_t port() const { return port_; }
  /// Shared state of the services; only after a successful start().
  EmulatorContext& context() { return *context_; }
  /// Where services are mounted; later services mount themselves here.
  Router& router() { return router_; }
  /// The estimation store, estimator and GraphQL service; only after a successful start().
  gql::EstimationBackend& estimation() { return *estimation_; }

 private:
  Router router_;
  std::unique_ptr<EmulatorContext> context_;
  std::unique_ptr<gql::EstimationBackend> estimation_;
  std::unique_ptr<RealtimeService> realtime_;
  std::shared_ptr<dashboard::DashboardService> dashboard_;
  // Declared last so that it stops before the services and state it calls into go.
  std::unique_ptr<HttpServer> server_;
  std::unique_ptr<TlsRelay> tls_;
  std::string caCertificatePem_;
  std::uint16_t port_ = 0;
  bool ownsDataDir_ = false;
};

}  // namespace corvenza::emulator
