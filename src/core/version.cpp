#include <corvenza/version.h>

namespace corvenza {

const char* versionString() noexcept { return CORVENZA_VERSION_STRING; }

}  // namespace corvenza
