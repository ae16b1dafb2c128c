#include "core/enterprise_impl.h"

namespace corvenza {

std::shared_ptr<DefaultTokenProvider> CorvenzaEnterprise::defaultTokenProvider() {
  return nullptr;
}

void CorvenzaEnterprise::clearCredentials() {}

}  // namespace corvenza
