#include "core/enterprise_impl.h"

namespace corvenza {

void CorvenzaEnterprise::Instance::initializeAppSync() {}

}  // namespace corvenza
