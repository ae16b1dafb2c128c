#include <utility>

#include "platform/http/http_transport.h"

namespace corvenza::http {

Error makeTransportError(int code, std::string description) {
  return Error(kTransportErrorDomain, code, std::nullopt, std::move(description));
}

std::string redactedUrl(std::string_view url) {
  url = url.substr(0, url.find_first_of("?#"));
  const auto scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  const auto authorityStart = scheme + 3;
  const auto pathStart = url.find('/', authorityStart);
  std::string_view authority = url.substr(authorityStart, pathStart - authorityStart);
  // User information may hold a password.
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    authority = authority.substr(at + 1);
  }
  std::string result(url.substr(0, authorityStart));
  result += authority;
  if (pathStart != std::string_view::npos) result += url.substr(pathStart);
  return result;
}

}  // namespace corvenza::http
