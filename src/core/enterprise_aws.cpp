#include "core/enterprise_impl.h"

namespace corvenza {

void CorvenzaEnterprise::Instance::initializeAWS() {}

}  // namespace corvenza
