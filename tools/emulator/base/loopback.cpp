#include "base/loopback.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace corvenza::emulator {
namespace {

bool isLoopbackV4(const unsigned char* bytes) { return bytes[0] == 127; }

bool isLoopbackLiteral(const std::string& text) {
  unsigned char bytes[16];
  if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return isLoopbackV4(bytes);
  if (inet_pton(AF_INET6, text.c_str(), bytes) != 1) return false;
  static constexpr unsigned char kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (std::memcmp(bytes, kLoopback6, 16) == 0) return true;
  // An IPv4 peer on a dual-stack socket.
  static constexpr unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return std::memcmp(bytes, kMappedPrefix, 12) == 0 && isLoopbackV4(bytes + 12);
}

bool isPort(std::string_view text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool isLoopbackPeer(std::string_view address) {
  if (address.empty() || address.size() > 64) return false;
  return isLoopbackLiteral(std::string(address));
}

bool isLoopbackHost(std::string_view host) {
  if (host.empty() || host.size() > 64) return false;
  std::string name;
  if (host.front() == '[') {
    const auto close = host.find(']');
    if (close == std::string_view::npos) return false;
    const auto rest = host.substr(close + 1);
    if (!rest.empty() && (rest.front() != ':' || !isPort(rest.substr(1)))) return false;
    name = std::string(host.substr(1, close - 1));
    return name.find(':') != std::string::npos && isLoopbackLiteral(name);
  }
  const auto colon = host.find(':');
  if (colon != std::string_view::npos && !isPort(host.substr(colon + 1))) return false;
  name = std::string(host.substr(0, colon));
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (name == "localhost") return true;
  unsigned char bytes[4];
  return inet_pton(AF_INET, name.c_str(), bytes) == 1 && isLoopbackV4(bytes);
}

bool isLoopbackOrigin(std::string_view origin) {
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (origin.starts_with(scheme)) return isLoopbackHost(origin.substr(scheme.size()));
  }
  return false;
}

std::optional<Response> refuseUnlessLoopback(const Request& request) {
  Response refusal;
  refusal.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
  // Every value counts: a second Host or Origin must not pass behind a good first one.
  const auto hosts = request.headerValues("Host");
  const auto origins = request.headerValues("Origin");
  if (!isLoopbackPeer(request.remoteAddress)) {
    refusal.status = 403;
    refusal.body = "the emulator answers only this machine\n";
  } else if (hosts.size() != 1 || !isLoopbackHost(hosts.front())) {
    refusal.status = 421;
    refusal.body =
        "the emulator answers only requests for 127.0.0.1, localhost or [::1], in one Host "
        "header\n";
  } else if (origins.size() > 1 || (origins.size() == 1 && !isLoopbackOrigin(origins.front()))) {
    refusal.status = 403;
    refusal.body = "the emulator answers only pages of this machine\n";
  } else {
    return std::nullopt;
  }
  return refusal;
}

}  // namespace corvenza::emulator
