#include "dashboard/html.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace corvenza::emulator::dashboard {

std::string htmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string oneDecimal(double value) {
  if (!std::isfinite(value)) return "\xE2\x80\x93";
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string utcTime(std::int64_t epochSeconds) {
  const auto seconds = static_cast<std::time_t>(epochSeconds);
  std::tm parts{};
  if (!gmtime_r(&seconds, &parts)) return "?";
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

Response plainText(int status, std::string text) {
  Response response;
  response.status = status;
  response.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
  response.headers.emplace_back("X-Content-Type-Options", "nosniff");
  response.body = std::move(text) + "\n";
  return response;
}

}  // namespace corvenza::emulator::dashboard
