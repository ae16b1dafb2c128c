#include "platform/encoding/url.h"

#include <gtest/gtest.h>

namespace corvenza::encoding {
namespace {

std::string shown(const std::optional<Url>& url) {
  if (!url) return "none";
  return url->scheme + " " + url->host + " " + url->port + " " + url->path + " " + url->query;
}

TEST(UrlTest, ReadsAsFetchedOrAsWritten) {
  struct Case {
    const char* url;
    const char* fetched;
    const char* written;
  };
  for (const auto& c : std::vector<Case>{
           {"HTTP://u:p@H:8080/p?q=1#f", "http H 8080 /p q=1", "http H 8080 /p q=1"},
           {"https://[::1]", "https [::1]  / ", "https [::1]  / "},
           {"http://h/a/./b/../c?", "http h  /a/c ", "http h  /a/./b/../c "},
           {"http://h/a b", "none", "http h  /a b "},
           {"wss://h:443/x", "none", "wss h 443 /x "},
           {"file:///etc/passwd", "none", "none"},
           {"http://h:port/", "none", "none"},
           {"h/x", "none", "none"},
       }) {
    EXPECT_EQ(shown(parseUrl(c.url, UrlReading::fetch)), c.fetched) << c.url;
    EXPECT_EQ(shown(parseUrl(c.url, UrlReading::asWritten)), c.written) << c.url;
  }
}

}  // namespace
}  // namespace corvenza::encoding
