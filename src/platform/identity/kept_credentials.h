#pragma once
// Temporary credentials kept between processes in the store the user's token
// is kept in, so that a new process signs at once instead of paying a round
// trip to the identity service first. One entry per account, bound to the
// identity pool, the identity service and the identity they were issued for:
// a record that matches not all three is never used.

#include <optional>
#include <string>

#include "platform/device/key_store.h"
#include "platform/sigv4/credentials.h"

namespace corvenza::identity {

struct KeptCredentials {
  std::string identityPoolId;
  std::string endpoint;
  std::string identityId;
  sigv4::Credentials credentials;
};

/// The record kept for @p account, when there is a readable one.
std::optional<KeptCredentials> readKeptCredentials(device::KeyStore& store,
                                                   const std::string& account);
/// Replaces the record of @p account. Failures are not reported: the
/// credentials then live in memory only.
void keepCredentials(device::KeyStore& store, const std::string& account,
                     const KeptCredentials& record);
/// Removes the record of @p account; with @p accessKeyId, only a record of
/// those credentials, so that newer ones another process kept stay.
void dropKeptCredentials(device::KeyStore& store, const std::string& account,
                         const std::optional<std::string>& accessKeyId = std::nullopt);

}  // namespace corvenza::identity
