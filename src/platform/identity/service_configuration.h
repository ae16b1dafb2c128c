#pragma once
// The region and credentials the storage clients sign with.

#include <corvenza/region.h>

#include <memory>

#include "platform/identity/credentials_source.h"

namespace corvenza::identity {

struct ServiceConfiguration {
  AWSRegionType region;
  std::shared_ptr<CredentialsSource> credentialsProvider;
};

}  // namespace corvenza::identity
