#include "platform/http/proxy_route.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "platform/encoding/base64.h"
#include "platform/http/connection_settings.h"
#include "platform/http/http_transport.h"

namespace corvenza::http {

namespace {

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string firstSet(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (auto value = variable(name); !value.empty()) return value;
  }
  return {};
}

std::string unbracketed(std::string host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

// libcurl's reading of no_proxy: a comma- or space-separated list; an entry
// matches the host itself or, for a name, any of its subdomains.
bool bypassed(std::string_view host, std::string_view list) {
  const std::string target = lower(unbracketed(std::string(host)));
  std::size_t start = 0;
  while (start <= list.size()) {
    auto end = list.find_first_of(", ", start);
    if (end == std::string_view::npos) end = list.size();
    std::string entry = lower(unbracketed(std::string(list.substr(start, end - start))));
    start = end + 1;
    if (entry.empty()) continue;
    if (entry == "*") return true;
    if (entry.front() == '.') entry.erase(0, 1);
    while (!entry.empty() && entry.back() == '.') entry.pop_back();
    if (target == entry) return true;
    if (target.size() > entry.size() && target.ends_with(entry) &&
        target[target.size() - entry.size() - 1] == '.') {
      return true;
    }
  }
  return false;
}

std::optional<std::string> part(CURLU* url, CURLUPart which, unsigned flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, which, &text, flags) != CURLUE_OK) return std::nullopt;
  std::string value(text);
  curl_free(text);
  return value;
}

}  // namespace

std::string withoutCredentials(std::string_view url) {
  const auto scheme = url.find("://");
  const auto authority = scheme == std::string_view::npos ? 0 : scheme + 3;
  const auto end = url.find_first_of("/?#", authority);
  const auto at = url.substr(0, end).rfind('@');
  if (at == std::string_view::npos || at < authority) return std::string(url);
  return std::string(url.substr(0, authority)) + std::string(url.substr(at + 1));
}

detail::Result<std::optional<ProxyRoute>> proxyFor(std::string_view scheme, std::string_view host,
                                                   std::string_view configured) {
  if (bypassed(host, firstSet({"no_proxy", "NO_PROXY"}))) return std::optional<ProxyRoute>();
  const std::string kind = lower(scheme);
  const bool secure = kind == "https" || kind == "wss";
  // Only the lower-case http_proxy, as libcurl: a web server's CGI may have
  // HTTP_PROXY set from a request's "Proxy:" header.
  std::string url(configured);
  if (url.empty()) url = processConnectionSettings().proxy;
  if (url.empty()) url = secure ? firstSet({"https_proxy", "HTTPS_PROXY"}) : variable("http_proxy");
  if (url.empty()) url = firstSet({"all_proxy", "ALL_PROXY"});
  if (url.empty()) return std::optional<ProxyRoute>();

  const std::string written = url.find("://") == std::string::npos ? "http://" + url : url;
  const std::string shown = withoutCredentials(written);
  const UrlPtr parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, written.c_str(),
                              CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return makeTransportError(kTransportBadURL, "The proxy " + shown + " is not a URL");
  }
  const auto proxyScheme = part(parsed.get(), CURLUPART_SCHEME);
  if (!proxyScheme || lower(*proxyScheme) != "http") {
    return makeTransportError(kTransportBadURL, "The proxy " + shown +
                                                    " cannot be used: only http:// proxies are "
                                                    "supported for the real-time connection");
  }
  ProxyRoute route;
  route.host = unbracketed(part(parsed.get(), CURLUPART_HOST).value_or(""));
  route.port = part(parsed.get(), CURLUPART_PORT).value_or("1080");
  route.shown = shown;
  if (route.host.empty()) {
    return makeTransportError(kTransportBadURL, "The proxy " + shown + " names no host");
  }
  if (auto user = part(parsed.get(), CURLUPART_USER, CURLU_URLDECODE)) {
    const auto password = part(parsed.get(), CURLUPART_PASSWORD, CURLU_URLDECODE).value_or("");
    route.authorization = "Basic " + encoding::base64Encode(*user + ":" + password);
  }
  return std::optional<ProxyRoute>(std::move(route));
}

}  // namespace corvenza::http
