#include "platform/encoding/url.h"

#include <curl/curl.h>

#include <memory>

namespace corvenza::encoding {
namespace {

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// The part, or "" when the URL has none.
std::optional<std::string> part(CURLU* url, CURLUPart which) {
  char* text = nullptr;
  const auto code = curl_url_get(url, which, &text, 0);
  if (code == CURLUE_NO_PORT || code == CURLUE_NO_QUERY) return std::string();
  if (code != CURLUE_OK) return std::nullopt;
  std::string value(text);
  curl_free(text);
  return value;
}

}  // namespace

std::optional<Url> parseUrl(std::string_view url, UrlReading reading) {
  const std::unique_ptr<CURLU, UrlDeleter> handle(curl_url());
  if (!handle) return std::nullopt;
  const unsigned flags = reading == UrlReading::asWritten
                             ? CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS | CURLU_ALLOW_SPACE
                             : 0;
  if (curl_url_set(handle.get(), CURLUPART_URL, std::string(url).c_str(), flags) != CURLUE_OK) {
    return std::nullopt;
  }
  auto scheme = part(handle.get(), CURLUPART_SCHEME);
  auto host = part(handle.get(), CURLUPART_HOST);
  auto port = part(handle.get(), CURLUPART_PORT);
  auto path = part(handle.get(), CURLUPART_PATH);
  auto query = part(handle.get(), CURLUPART_QUERY);
  if (!scheme || !host || host->empty() || !port || !path || !query) return std::nullopt;
  return Url{std::move(*scheme), std::move(*host), std::move(*port), std::move(*path),
             std::move(*query)};
}

}  // namespace corvenza::encoding
