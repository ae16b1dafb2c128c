// Signing one client's user out.

#include <corvenza/default_token_provider.h>

#include "auth/developer_identity_provider.h"
#include "platform/identity/credentials_provider.h"
#include "requests/graphql_gateway.h"
#include "requests/operations.h"

namespace corvenza::requests {

void signOut(ClientState& state) {
  // Copied out first: the clears call into other objects and must not hold the state's lock.
  std::shared_ptr<identity::CredentialsProvider> credentials;
  std::shared_ptr<auth::DeveloperAuthenticatedIdentityProvider> bridge;
  std::shared_ptr<CorvenzaTokenProvider> provider;
  std::shared_ptr<GraphQLGateway> client;
  {
    std::lock_guard lock(state.mutex);
    credentials = state.cognitoCredentialsProvider;
    bridge = state.developerIdentityProvider;
    provider = state.tokenProvider;
    client = state.appSyncClient;
  }
  if (credentials) {
    credentials->clearKeychain();
    credentials->clearCredentials();
  }
  if (bridge) bridge->clear();
  if (auto keychain = std::dynamic_pointer_cast<DefaultTokenProvider>(provider)) keychain->clear();
  // What was cached for the user signed out must not answer for the next one.
  if (client) client->clearCache();
}

}  // namespace corvenza::requests
