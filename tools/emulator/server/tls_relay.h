#pragma once
// TLS in front of the emulator's plain server, on the port clients use: each
// connection's handshake is done here and its bytes are relayed, both ways,
// to the plain server on a private loopback port. Every service (HTTP and the
// WebSocket alike) is thereby served over TLS without knowing of it.

#include <cstdint>
#include <memory>
#include <string>

#include "base/tls_identity.h"
#include "core/result.h"

namespace corvenza::emulator {

class TlsRelay {
 public:
  TlsRelay();
  ~TlsRelay();
  TlsRelay(const TlsRelay&) = delete;
  TlsRelay& operator=(const TlsRelay&) = delete;

  /// Listens on @p host:@p port (0: an ephemeral port) with @p identity and
  /// relays to @p host:@p targetPort; returns the bound port.
  detail::Result<std::uint16_t> start(const std::string& host, std::uint16_t port,
                                      std::uint16_t targetPort, const TlsIdentity& identity);
  /// Stops accepting, drops every connection and joins the thread.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvenza::emulator
