#pragma once
// How a client's connections leave the machine: which certificate
// authorities they trust and which proxy they go through. Every HTTP request
// and the real-time connection follow the same settings.

#include <filesystem>
#include <memory>
#include <string>

#include "platform/http/http_transport.h"

namespace corvenza::http {

struct ConnectionSettings {
  /// The certificate authorities to trust; empty: AWS_CA_BUNDLE's file, else
  /// the system store (see trustedAuthorities).
  std::filesystem::path caFile;
  /// The proxy URL; empty: the usual environment variables (see proxyFor).
  std::string proxy;
};

/// Settings for every connection of the process that names none of its own
/// (the facade's, and token providers' own requests), before the
/// environment's. Thread-safe.
void setProcessConnectionSettings(ConnectionSettings settings);
ConnectionSettings processConnectionSettings();

/// @p inner, with @p settings applied to every request that names none of its own.
std::shared_ptr<HttpTransport> withConnectionSettings(std::shared_ptr<HttpTransport> inner,
                                                      ConnectionSettings settings);

}  // namespace corvenza::http
