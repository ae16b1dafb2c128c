#include "platform/file_uri.h"

#include <cctype>

namespace corvenza::detail {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    // An encoded NUL would cut the path short when it reaches the system.
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

bool hasScheme(std::string_view uri) {
  const auto colon = uri.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  if (!std::isalpha(static_cast<unsigned char>(uri[0]))) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const auto c = static_cast<unsigned char>(uri[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

}  // namespace

std::optional<std::filesystem::path> localFilePath(std::string_view uri) {
  if (uri.empty() || uri.find('\0') != std::string_view::npos) return std::nullopt;
  if (!hasScheme(uri)) return std::filesystem::path(std::string(uri));
  if (uri.substr(0, 5) != "file:") return std::nullopt;
  std::string_view rest = uri.substr(5);
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    const auto slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    // An empty or "localhost" authority means this machine; anything else is remote.
    const auto host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost") return std::nullopt;
    rest.remove_prefix(slash);
  }
  if (rest.empty() || rest.front() != '/') return std::nullopt;
  auto path = percentDecoded(rest);
  if (!path) return std::nullopt;
  return std::filesystem::path(*path);
}

std::string fileUrlFor(const std::filesystem::path& path) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path.string()) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kDigits[c >> 4];
      url += kDigits[c & 0x0f];
    }
  }
  return url;
}

}  // namespace corvenza::detail
