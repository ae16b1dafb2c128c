#pragma once
// The facade's identity side as other layers reach it: credentials for
// signing, the identity bridge for the user's identity id. Each returns
// nothing before initialize. Thread-safe.

#include <memory>

#include "platform/identity/credentials_provider.h"
#include "platform/identity/service_configuration.h"

namespace corvenza::auth {
class DeveloperAuthenticatedIdentityProvider;
}

namespace corvenza::detail {

std::shared_ptr<identity::CredentialsProvider> sharedCredentialsProvider();
std::shared_ptr<auth::DeveloperAuthenticatedIdentityProvider> sharedIdentityBridge();
std::shared_ptr<const identity::ServiceConfiguration> sharedServiceConfiguration();

}  // namespace corvenza::detail
