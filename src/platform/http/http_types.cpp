#include "platform/http/http_types.h"

#include <algorithm>
#include <cctype>

namespace corvenza::http {

namespace {

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::optional<std::string> findHeader(const HttpHeaders& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoreCase(key, name)) return value;
  }
  return std::nullopt;
}

void removeHeader(HttpHeaders& headers, std::string_view name) {
  std::erase_if(headers, [&](const auto& h) { return equalsIgnoreCase(h.first, name); });
}

void setHeader(HttpHeaders& headers, std::string_view name, std::string value) {
  removeHeader(headers, name);
  headers.emplace_back(std::string(name), std::move(value));
}

}  // namespace corvenza::http
