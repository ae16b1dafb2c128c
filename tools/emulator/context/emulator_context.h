#pragma once
// State shared by the emulator's services: what one service issues (tokens,
// credentials) another one verifies.

#include <memory>

#include "base/emulator_clock.h"
#include "context/credentials_registry.h"
#include "context/emulator_options.h"
#include "context/identity_store.h"
#include "context/jwt_signer.h"
#include "faults/fault_table.h"

namespace corvenza::emulator {

/// Issuer written into and required of every token.
inline constexpr const char* kTokenIssuer = "corvenza-emulator";

struct EmulatorContext {
  EmulatorContext(EmulatorOptions opts, std::unique_ptr<IdentityStore> store, std::string secret)
      : options(std::move(opts)),
        identities(std::move(store)),
        jwt(std::move(secret), kTokenIssuer, options.identityPoolId) {
    faults.add(options.faults);
  }

  const EmulatorOptions options;
  EmulatorClock clock;
  CredentialsRegistry credentials;
  const std::unique_ptr<IdentityStore> identities;
  const JwtSigner jwt;
  /// Injected faults, from the options and the control interface.
  faults::FaultTable faults;
};

}  // namespace corvenza::emulator
