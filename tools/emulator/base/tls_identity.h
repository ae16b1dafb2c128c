#pragma once
// A private certificate authority and a loopback server certificate made at
// start, so that the emulator can serve https and wss without anything from
// outside: clients trust the CA's file (AWS_CA_BUNDLE) and nothing else.

#include <string>

#include "core/result.h"

namespace corvenza::emulator {

struct TlsIdentity {
  std::string caCertificatePem;
  /// For 127.0.0.1, ::1 and localhost, signed by the CA.
  std::string certificatePem;
  std::string privateKeyPem;
};

/// A fresh CA and server certificate (P-256, valid from an hour ago for 30 days).
detail::Result<TlsIdentity> makeLoopbackTlsIdentity();

}  // namespace corvenza::emulator
