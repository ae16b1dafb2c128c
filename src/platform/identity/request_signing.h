#pragma once
// Signing each attempt of a request with the current federated credentials:
// the bridge between the credentials provider, the signer and the retry layer.

#include <memory>
#include <string>

#include "platform/http/retrying_transport.h"
#include "platform/identity/credentials_source.h"
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
                                  SigningSettings settings,
                                  sigv4::ClockSkew& skew = sigv4::sharedClockSkew());

/// A transport that retries transient failures and signs every attempt.
std::shared_ptr<http::HttpTransport> makeSignedTransport(
    std::shared_ptr<http::HttpTransport> inner, std::shared_ptr<CredentialsSource> credentials,
    SigningSettings settings, sigv4::ClockSkew& skew = sigv4::sharedClockSkew());

}  // namespace corvenza::identity
