#include "platform/encoding/url.h"

#include <gtest/gtest.h>

namespace corvenza::encoding {
namespace {

std::string shown(const std::optional<Url>& url) {
  return url ? url->scheme + " " + url->host + " " + url->port + " " + url->path + " " + url->query
             : "none";
}

TEST(UrlTest, ReadsAsFetchedOrAsWritten) {
  const std::vector<std::array<const char*, 3>> cases = {
      // URL, as fetched, as written
      {"HTTP://u:p@H:8080/p?q=1#f", "http H 8080 /p q=1", "http H 8080 /p q=1"},
      {"https://[::1]", "https [::1]  / ", "https [::1]  / "},
      {"http://h/a/./b/../c?", "http h  /a/c ", "http h  /a/./b/../c "},
      {"http://h/a b", "none", "http h  /a b "},
      {"wss://h:443/x", "none", "wss h 443 /x "},
      {"file:///etc/passwd", "none", "none"},
      {"http://h:port/", "none", "none"},
      {"h/x", "none", "none"}};
  for (const auto& [url, fetched, written] : cases) {
    EXPECT_EQ(shown(parseUrl(url, UrlReading::fetch)), fetched) << url;
    EXPECT_EQ(shown(parseUrl(url, UrlReading::asWritten)), written) << url;
  }
}

}  // namespace
}  // namespace corvenza::encoding
