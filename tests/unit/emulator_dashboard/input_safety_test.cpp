// What the dashboard takes from a browser before anything is read or shown:
// escaping, request ids, who may ask, and paging bounds.

#include <gtest/gtest.h>

#include "base/loopback.h"
#include "dashboard/html.h"
#include "dashboard/paging.h"
#include "dashboard/request_id.h"

namespace corvenza::emulator::dashboard {
namespace {

TEST(HtmlEscape, ReplacesEveryCharacterThatCanEndTextOrAnAttribute) {
  const std::string hostile = "<img src=x onerror=\"a('&')\">";
  EXPECT_EQ(htmlEscape(hostile), "&lt;img src=x onerror=&quot;a(&#39;&amp;&#39;)&quot;&gt;");
  EXPECT_EQ(htmlEscape("plain text, ünïcode"), "plain text, ünïcode");
  EXPECT_EQ(htmlEscape(""), "");
}

TEST(HtmlEscape, NumbersAndTimesAreFormattedForPeople) {
  EXPECT_EQ(oneDecimal(34.46), "34.5");
  EXPECT_EQ(oneDecimal(170), "170.0");
  EXPECT_EQ(oneDecimal(std::numeric_limits<double>::quiet_NaN()), "\xE2\x80\x93");
  EXPECT_EQ(utcTime(0), "1970-01-01 00:00:00 UTC");
  EXPECT_EQ(utcTime(1'700'000'000), "2023-11-14 22:13:20 UTC");
}

TEST(RequestId, OnlyLowerCaseCanonicalUuids) {
  EXPECT_TRUE(isRequestId("0f8fad5b-d9cb-469f-a165-70867728950e"));
  EXPECT_FALSE(isRequestId("0F8FAD5B-D9CB-469F-A165-70867728950E"));
  EXPECT_FALSE(isRequestId("0f8fad5b-d9cb-469f-a165-70867728950"));
  EXPECT_FALSE(isRequestId("0f8fad5b-d9cb-469f-a165-70867728950e0"));
  EXPECT_FALSE(isRequestId("0f8fad5bd-9cb-469f-a165-70867728950e"));
  EXPECT_FALSE(isRequestId("../../../../../../../etc/passwd-aaaaaa"));
  EXPECT_FALSE(isRequestId("0f8fad5b-d9cb-469f-a165-70867728950%"));
  EXPECT_FALSE(isRequestId(""));
}

TEST(Loopback, PeersOnThisMachineOnly) {
  for (const char* address : {"127.0.0.1", "127.8.9.10", "::1", "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(isLoopbackPeer(address)) << address;
  }
  for (const char* address :
       {"", "10.0.0.5", "192.168.1.2", "0.0.0.0", "::", "::ffff:10.0.0.1", "fe80::1", "128.0.0.1",
        "localhost", "127.0.0.1 ", "not an address"}) {
    EXPECT_FALSE(isLoopbackPeer(address)) << address;
  }
}

TEST(Loopback, HostHeadersThatNameThisMachine) {
  for (const char* host : {"127.0.0.1", "127.0.0.1:8080", "localhost:5", "LocalHost", "[::1]",
                           "[::1]:43210", "127.1.2.3:1"}) {
    EXPECT_TRUE(isLoopbackHost(host)) << host;
  }
  // A rebinding attacker's own name, or a loopback name with junk around it.
  for (const char* host : {"", "evil.example", "localhost.evil.example", "127.0.0.1.evil.example",
                           "127.0.0.1:", "127.0.0.1:80x", "[::1", "[::1]x", "[::2]:80",
                           "[127.0.0.1]", "10.0.0.1:80", "localhost:123456"}) {
    EXPECT_FALSE(isLoopbackHost(host)) << host;
  }
}

TEST(Paging, DefaultsAndClampsEveryValue) {
  auto paging = parsePaging("");
  EXPECT_EQ(paging.page, 1);
  EXPECT_EQ(paging.perPage, Paging::kDefaultPerPage);
  EXPECT_EQ(paging.offset(), 0);

  paging = parsePaging("page=3&per_page=10");
  EXPECT_EQ(paging.page, 3);
  EXPECT_EQ(paging.perPage, 10);
  EXPECT_EQ(paging.offset(), 20);

  paging = parsePaging("page=0&per_page=0");
  EXPECT_EQ(paging.page, 1);
  EXPECT_EQ(paging.perPage, 1);

  paging = parsePaging("page=-4&per_page=-1");
  EXPECT_EQ(paging.page, 1);
  EXPECT_EQ(paging.perPage, 1);

  paging = parsePaging("page=99999999999999999999999999999&per_page=100000000000000000000");
  EXPECT_EQ(paging.page, Paging::kMaxPage);
  EXPECT_EQ(paging.perPage, Paging::kMaxPerPage);
  EXPECT_GT(paging.offset(), 0);

  paging = parsePaging("page=2x&per_page=%31%30&page=7");
  EXPECT_EQ(paging.page, 1) << "the first value counts, and it is not a number";
  EXPECT_EQ(paging.perPage, Paging::kDefaultPerPage);
}

TEST(Paging, QueryValuesMatchWholeNames) {
  EXPECT_EQ(queryValue("xpage=5&page=2", "page"), "2");
  EXPECT_EQ(queryValue("page", "page"), "");
  EXPECT_FALSE(queryValue("pages=2", "page"));
  EXPECT_FALSE(queryValue("", "page"));
}

}  // namespace
}  // namespace corvenza::emulator::dashboard

#include <nlohmann/json.hpp>

#include "dashboard/page_layout.h"
#include "faults/fault_parse.h"

namespace corvenza::emulator::dashboard {
namespace {

std::string unescapeAttribute(std::string text) {
  for (const auto& [entity, plain] :
       {std::pair{"&quot;", "\""}, std::pair{"&#39;", "'"}, std::pair{"&lt;", "<"},
        std::pair{"&gt;", ">"}, std::pair{"&amp;", "&"}}) {
    for (auto at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
      text.replace(at, std::string_view(entity).size(), plain);
    }
  }
  return text;
}

TEST(FaultButtons, EachArmsAFaultTheEmulatorAccepts) {
  const auto page = renderPage({"t", "0", ""}, "");
  int buttons = 0;
  const std::string marker = "data-fault=\"";
  for (auto at = page.find(marker); at != std::string::npos; at = page.find(marker, at + 1)) {
    const auto start = at + marker.size();
    const auto fault = unescapeAttribute(page.substr(start, page.find('"', start) - start));
    SCOPED_TRACE(fault);
    const auto parsed = faults::faultFromJson(nlohmann::json::parse(fault, nullptr, false));
    EXPECT_TRUE(parsed.ok()) << (parsed.ok() ? "" : parsed.error().localizedDescription());
    ++buttons;
  }
  EXPECT_GE(buttons, 5);
  EXPECT_NE(page.find("data-clear-faults"), std::string::npos);
}

}  // namespace
}  // namespace corvenza::emulator::dashboard
