#include "core/enterprise_identity.h"

#include <corvenza/default_token_provider.h>

#include "auth/developer_identity_provider.h"
#include "core/enterprise_impl.h"
#include "requests/graphql_gateway.h"

namespace corvenza {

std::shared_ptr<DefaultTokenProvider> CorvenzaEnterprise::defaultTokenProvider() {
  return std::dynamic_pointer_cast<DefaultTokenProvider>(tokenProvider());
}

void CorvenzaEnterprise::clearCredentials() {
  // Copied out first: the clears call into other objects and must not hold the facade's lock.
  auto credentials = detail::sharedCredentialsProvider();
  auto bridge = detail::sharedIdentityBridge();
  if (credentials) {
    credentials->clearKeychain();
    credentials->clearCredentials();
  }
  if (bridge) bridge->clear();
  if (auto provider = defaultTokenProvider()) provider->clear();
  // What was cached for the user signed out must not answer for the next one.
  std::shared_ptr<requests::GraphQLGateway> client;
  {
    auto& impl = CorvenzaEnterprise::shared().impl();
    std::lock_guard lock(impl.mutex);
    client = impl.appSyncClient;
  }
  if (client) client->clearCache();
}

}  // namespace corvenza

namespace corvenza::detail {

std::shared_ptr<identity::CredentialsProvider> sharedCredentialsProvider() {
  auto& impl = CorvenzaEnterprise::shared().impl();
  std::lock_guard lock(impl.mutex);
  return impl.cognitoCredentialsProvider;
}

std::shared_ptr<auth::DeveloperAuthenticatedIdentityProvider> sharedIdentityBridge() {
  auto& impl = CorvenzaEnterprise::shared().impl();
  std::lock_guard lock(impl.mutex);
  return impl.developerIdentityProvider;
}

std::shared_ptr<const identity::ServiceConfiguration> sharedServiceConfiguration() {
  auto& impl = CorvenzaEnterprise::shared().impl();
  std::lock_guard lock(impl.mutex);
  return impl.serviceConfiguration;
}

}  // namespace corvenza::detail
