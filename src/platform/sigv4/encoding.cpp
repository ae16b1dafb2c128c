#include "platform/sigv4/encoding.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "platform/encoding/url.h"
#include "platform/sigv4/signing_error.h"

namespace corvenza::sigv4 {

namespace {

bool isUnreserved(unsigned char c) {
  return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool allDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; });
}

int number(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

}  // namespace

std::string uriEncode(std::string_view text, bool keepSlash) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if (isUnreserved(c) || (keepSlash && c == '/')) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kDigits[c >> 4]);
      out.push_back(kDigits[c & 0x0f]);
    }
  }
  return out;
}

std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = hexValue(text[i + 1]);
      const int low = hexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string formatAmzDate(std::chrono::system_clock::time_point time) {
  const std::time_t t = std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::seconds>(time));
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
  return text;
}

std::optional<std::chrono::system_clock::time_point> parseAmzDate(std::string_view text) {
  if (text.size() != 16 || text[8] != 'T' || text[15] != 'Z') return std::nullopt;
  if (!allDigits(text.substr(0, 8)) || !allDigits(text.substr(9, 6))) return std::nullopt;
  using namespace std::chrono;
  const year_month_day date{year{number(text.substr(0, 4))},
                            month{static_cast<unsigned>(number(text.substr(4, 2)))},
                            day{static_cast<unsigned>(number(text.substr(6, 2)))}};
  const int h = number(text.substr(9, 2));
  const int m = number(text.substr(11, 2));
  const int s = number(text.substr(13, 2));
  if (!date.ok() || h > 23 || m > 59 || s > 60) return std::nullopt;
  return sys_days(date) + hours(h) + minutes(m) + seconds(s);
}

detail::Result<UrlParts> splitUrl(std::string_view url) {
  // libcurl also reads "https:///x" as host x and "http:/h" as host h; the
  // URL a request is signed for names its host after "//".
  const auto schemeEnd = url.find("://");
  const bool hostAfterSlashes =
      schemeEnd != std::string_view::npos && url.substr(schemeEnd + 3).find('/') != 0;
  auto parsed =
      hostAfterSlashes ? encoding::parseUrl(url, encoding::UrlReading::asWritten) : std::nullopt;
  if (!parsed) {
    return signingError(SigningErrorCode::invalidUrl, "The request URL is not a valid URL.");
  }
  const auto& port = parsed->port;
  const bool webScheme = parsed->scheme == "http" || parsed->scheme == "ws";
  const bool secureScheme = parsed->scheme == "https" || parsed->scheme == "wss";
  const bool defaultPort =
      port.empty() || (webScheme && port == "80") || (secureScheme && port == "443");
  UrlParts parts;
  parts.scheme = std::move(parsed->scheme);
  parts.host = defaultPort ? std::move(parsed->host) : parsed->host + ":" + port;
  parts.path = std::move(parsed->path);
  parts.query = std::move(parsed->query);
  return parts;
}

}  // namespace corvenza::sigv4
