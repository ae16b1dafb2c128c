#pragma once
// Signing each attempt of a request with the current federated credentials:
// the bridge between the credentials provider, the signer and the retry layer.

#include <memory>
#include <string>

#include "platform/http/retrying_transport.h"
#include "platform/identity/credentials_source.h"
#include "platform/runtime/runtime.h"
#include "platform/sigv4/clock_skew.h"
#include "platform/sigv4/signer.h"

namespace corvenza::identity {

struct SigningSettings {
  std::string region;
  std::string service;
  /// Object storage: single encoding, no path normalisation, payload header.
  bool storageRules = false;
  /// Object storage uploads: sign "UNSIGNED-PAYLOAD" instead of hashing the file.
  bool unsignedPayload = false;
};

/// A prepare hook that fetches credentials and signs the request afresh
/// (new date, corrected by @p skew) for every attempt.
http::PrepareHook makeSigningHook(std::shared_ptr<CredentialsSource> credentials,
                                  SigningSettings settings, std::shared_ptr<sigv4::ClockSkew> skew);

/// A transport over @p runtime's that retries transient failures on its
/// retry timer and signs every attempt with its clock correction (an
/// uncorrected clock when it has none).
std::shared_ptr<http::HttpTransport> makeSignedTransport(
    const runtime::Runtime& runtime, std::shared_ptr<CredentialsSource> credentials,
    SigningSettings settings);

}  // namespace corvenza::identity
