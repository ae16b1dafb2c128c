// Signing one client's user out.

#include "auth/developer_identity_provider.h"
#include "auth/token_cache.h"
#include "platform/identity/credentials_provider.h"
#include "requests/graphql_gateway.h"
#include "requests/operations.h"

namespace corvenza::requests {

void signOut(ClientState& state) {
  const auto services = state.services();
  if (const auto& credentials = services->cognitoCredentialsProvider) {
    credentials->clearKeychain();
    credentials->clearCredentials();
  }
  if (services->developerIdentityProvider) services->developerIdentityProvider->clear();
  if (services->tokenCache) services->tokenCache->clear();
  // What was cached for the user signed out must not answer for the next one.
  if (services->appSyncClient) services->appSyncClient->clearCache();
}

}  // namespace corvenza::requests
