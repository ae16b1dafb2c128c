#pragma once
// How an emulator instance is set up. Defaults match the command line's.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "faults/fault.h"

namespace corvenza::emulator {

struct EmulatorOptions {
  /// Loopback address the server binds to.
  std::string host = "127.0.0.1";
  /// TCP port; 0 picks a free ephemeral one.
  std::uint16_t port = 0;
  /// Where state is kept. Empty: a fresh temporary directory, removed on stop.
  std::filesystem::path dataDir;
  /// The authentication service's "x-api-key".
  std::string apiKey = "corvenza-emulator-key";
  /// Key that signs tokens. Absent: a random one kept in the data directory,
  /// so tokens stay valid across restarts on the same directory.
  std::optional<std::string> tokenSecret;
  std::string region = "ap-northeast-1";
  std::string identityPoolId = "ap-northeast-1:00000000-0000-4000-8000-000000000001";
  /// Lifetime of the temporary credentials the identity service issues.
  std::chrono::seconds credentialsDuration{3600};
  /// How long after both photos are attached the estimator decides a request.
  std::chrono::milliseconds estimationDelay{2000};
  /// The key id that object storage's bucket policy demands on every upload.
  std::string kmsKeyId = "corvenza-emulator-key-id";
  /// The bucket clients are told to store photos in.
  std::string bucket = "corvenza-photos";
  /// How often the real-time service sends "ka" on each connection.
  std::chrono::milliseconds realtimeKeepAlive{60'000};
  /// A real-time connection that has not been acknowledged (a good
  /// "connection_init") this long after it opened is closed.
  std::chrono::milliseconds realtimeInitTimeout{10'000};
  /// Faults in force from the start (more come through /_control/faults).
  std::vector<faults::Fault> faults;
  /// Serve https and wss instead of http and ws, on the same one port.
  bool tls = false;
  /// With tls: the server's certificate chain and key (PEM files); when
  /// absent, a private CA and a loopback certificate are made at start.
  std::filesystem::path tlsCertificate;
  std::filesystem::path tlsKey;
  /// Server threads (1 or 2 suffice on loopback).
  int threads = 2;
};

}  // namespace corvenza::emulator
