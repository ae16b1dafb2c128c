#include "platform/http/trust_store.h"

#include <cstdlib>

#include "platform/http/connection_settings.h"

namespace corvenza::http {

std::filesystem::path trustedAuthorities(const std::filesystem::path& chosen) {
  if (!chosen.empty()) return chosen;
  if (auto process = processConnectionSettings().caFile; !process.empty()) return process;
  const char* bundle = std::getenv("AWS_CA_BUNDLE");
  return bundle && *bundle ? std::filesystem::path(bundle) : std::filesystem::path();
}

}  // namespace corvenza::http
