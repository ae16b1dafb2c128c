// corvenza-emulator: the cloud side of Corvenza on loopback, for demos and tests.
// Prints one JSON line with its endpoints when ready; stops on SIGINT/SIGTERM.

#include <CLI/CLI.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "base/log.h"
#include "bundle_writer.h"
#include "emulator.h"
#include "faults/fault_parse.h"

int main(int argc, char** argv) {
  using corvenza::emulator::EmulatorOptions;
  EmulatorOptions options;
  std::string dataDir;
  std::string tokenSecret;
  long long credentialsDuration = options.credentialsDuration.count();
  long long estimationDelay = options.estimationDelay.count();
  long long keepAlive = options.realtimeKeepAlive.count();
  long long initTimeout = options.realtimeInitTimeout.count();

  CLI::App app{"corvenza-emulator: the Corvenza cloud services on a loopback port"};
  app.add_option("--port", options.port, "TCP port on 127.0.0.1; 0 picks a free one")
      ->capture_default_str();
  app.add_option("--data-dir", dataDir, "Directory for state (default: a fresh temporary one)");
  app.add_option("--api-key", options.apiKey, "API key of the authentication service")
      ->capture_default_str();
  app.add_option("--token-secret", tokenSecret,
                 "Key that signs tokens (default: a random one kept in the data directory)");
  app.add_option("--region", options.region, "Region of the emulated services")
      ->capture_default_str();
  app.add_option("--identity-pool-id", options.identityPoolId, "Identity pool id")
      ->capture_default_str();
  app.add_option("--credentials-duration", credentialsDuration,
                 "Lifetime of issued temporary credentials, in seconds")
      ->capture_default_str()
      ->check(CLI::Range(1LL, 43'200LL));
  app.add_option("--kms-key-id", options.kmsKeyId,
                 "Key id every object upload must name for server-side encryption")
      ->capture_default_str();
  app.add_option("--bucket", options.bucket, "Bucket name announced to clients")
      ->capture_default_str();
  app.add_option("--estimation-delay", estimationDelay,
                 "Milliseconds from the second photo to the estimator's decision")
      ->capture_default_str()
      ->check(CLI::Range(0LL, 3'600'000LL));
  app.add_option("--keep-alive", keepAlive,
                 "Milliseconds between the real-time service's keep-alive messages")
      ->capture_default_str()
      ->check(CLI::Range(100LL, 3'600'000LL));
  app.add_option("--connection-init-timeout", initTimeout,
                 "Milliseconds a real-time connection may stay open without a good "
                 "connection_init")
      ->capture_default_str()
      ->check(CLI::Range(100LL, 3'600'000LL));
  std::vector<std::string> faultArguments;
  app.add_option("--fault", faultArguments,
                 "Inject a fault: key=value pairs (route=graphql,field=createBodysizeEstimation,"
                 "action=fail,status=503) or a JSON object; repeatable. See README.md")
      ->take_all();
  std::string bundleDir;
  app.add_option("--write-bundle", bundleDir,
                 "Write corvenza-config.json and emulator.env (and with --tls ca.pem) for "
                 "this emulator into DIR");
  app.add_flag("--tls", options.tls,
               "Serve https and wss on the port, with a private CA made at start (or the "
               "certificate of --tls-cert and --tls-key)");
  std::string tlsCertificate;
  std::string tlsKey;
  app.add_option("--tls-cert", tlsCertificate, "With --tls: the server's certificate chain (PEM)")
      ->check(CLI::ExistingFile);
  app.add_option("--tls-key", tlsKey, "With --tls: the server's private key (PEM)")
      ->check(CLI::ExistingFile);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Every refused argument is a usage error, whatever CLI11 numbers it.
    return app.exit(e) == 0 ? 0 : 2;
  }

  if (!dataDir.empty()) options.dataDir = dataDir;
  if (tlsCertificate.empty() != tlsKey.empty()) {
    std::cerr << "corvenza-emulator: --tls-cert and --tls-key go together" << std::endl;
    return 2;
  }
  options.tlsCertificate = tlsCertificate;
  options.tlsKey = tlsKey;
  if (!tlsCertificate.empty()) options.tls = true;
  if (!tokenSecret.empty()) options.tokenSecret = tokenSecret;
  options.credentialsDuration = std::chrono::seconds(credentialsDuration);
  options.estimationDelay = std::chrono::milliseconds(estimationDelay);
  options.realtimeKeepAlive = std::chrono::milliseconds(keepAlive);
  options.realtimeInitTimeout = std::chrono::milliseconds(initTimeout);
  for (const auto& argument : faultArguments) {
    auto fault = corvenza::emulator::faults::parseFaultArgument(argument);
    if (!fault) {
      std::cerr << "corvenza-emulator: --fault " << argument << ": "
                << fault.error().localizedDescription() << std::endl;
      return 2;
    }
    options.faults.push_back(std::move(*fault));
  }

  // Catch the stop signals before announcing readiness, so that a parent that
  // signals right after reading the ready line still gets a clean stop.
  boost::asio::io_context signalContext;
  boost::asio::signal_set signals(signalContext, SIGINT, SIGTERM);
  int stopSignal = 0;
  signals.async_wait([&](const boost::system::error_code& ec, int signal) {
    if (!ec) stopSignal = signal;
  });
  // A client that hangs up mid-answer must not kill the emulator.
  std::signal(SIGPIPE, SIG_IGN);

  corvenza::emulator::Emulator emulator;
  auto port = emulator.start(std::move(options));
  if (!port) {
    std::cerr << "corvenza-emulator: " << port.error().localizedDescription() << std::endl;
    return 1;
  }
  if (!bundleDir.empty()) {
    auto written = corvenza::emulator::writeBundle(bundleDir, emulator.endpoints());
    if (!written) {
      std::cerr << "corvenza-emulator: " << written.error().localizedDescription() << std::endl;
      emulator.stop();
      return 1;
    }
  }
  std::cout << emulator.endpoints().dump() << std::endl;

  signalContext.run();
  corvenza::emulator::logLine("stopping on signal " + std::to_string(stopSignal));
  emulator.stop();
  return 0;
}
