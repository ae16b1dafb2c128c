// Helper encodings and signer behaviour the public vectors do not reach.

#include "platform/sigv4/signer.h"

#include <gtest/gtest.h>

#include "platform/sigv4/canonical.h"
#include "platform/sigv4/encoding.h"

namespace corvenza::sigv4 {
namespace {

TEST(UriEncode, KeepsUnreservedAndEncodesEverythingElseUppercase) {
  EXPECT_EQ(uriEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(uriEncode("a b+c=d/e;f"), "a%20b%2Bc%3Dd%2Fe%3Bf");
  EXPECT_EQ(uriEncode("a b/c", /*keepSlash=*/true), "a%20b/c");
  EXPECT_EQ(uriEncode("\xE1\x88\xB4\xff"), "%E1%88%B4%FF");
}

TEST(PercentDecode, DecodesValidEscapesOnlyAndLeavesPlusAlone) {
  EXPECT_EQ(percentDecode("a%20b%2fc+d"), "a b/c+d");
  EXPECT_EQ(percentDecode("100%"), "100%");
  EXPECT_EQ(percentDecode("%zz%4"), "%zz%4");
}

TEST(AmzDate, RoundTripsAndRejectsMalformedStamps) {
  const auto time = parseAmzDate("20150830T123600Z");
  ASSERT_TRUE(time);
  EXPECT_EQ(formatAmzDate(*time), "20150830T123600Z");
  EXPECT_EQ(formatAmzDate(*time + std::chrono::milliseconds(999)), "20150830T123600Z");
  for (const char* bad : {"", "20150830T123600", "2015-08-30T12:36:00Z", "20151330T123600Z",
                          "20150830T253600Z", "2015083OT123600Z"}) {
    EXPECT_FALSE(parseAmzDate(bad)) << bad;
  }
}

TEST(SplitUrl, HostCarriesOnlyNonDefaultPorts) {
  auto parts = splitUrl("https://example.com:443/a/b?x=1#frag");
  ASSERT_TRUE(parts.ok());
  EXPECT_EQ(parts->scheme, "https");
  EXPECT_EQ(parts->host, "example.com");
  EXPECT_EQ(parts->path, "/a/b");
  EXPECT_EQ(parts->query, "x=1");

  EXPECT_EQ(splitUrl("http://127.0.0.1:8080")->host, "127.0.0.1:8080");
  EXPECT_EQ(splitUrl("http://127.0.0.1:8080")->path, "/");
  EXPECT_EQ(splitUrl("HTTP://h:80?q")->host, "h");
  EXPECT_EQ(splitUrl("HTTP://h:80?q")->query, "q");
  EXPECT_EQ(splitUrl("http://[::1]:9000/x")->host, "[::1]:9000");
  EXPECT_EQ(splitUrl("https://[::1]/x")->host, "[::1]");
  EXPECT_EQ(splitUrl("https://user:pw@h.example/x")->host, "h.example");

  for (const char* bad : {"", "example.com/x", "https:///x", "https://h:port/"}) {
    const auto result = splitUrl(bad);
    ASSERT_FALSE(result.ok()) << bad;
    EXPECT_EQ(result.error().domain(), "CorvenzaSigningError");
  }
}

TEST(CanonicalUri, OtherServicesEncodeTheWirePathAgain) {
  EXPECT_EQ(canonicalUri("/a%20b", false, true), "/a%2520b");
  EXPECT_EQ(canonicalUri("", false, true), "/");
  EXPECT_EQ(canonicalUri("/a/b/../c/./d//", false, true), "/a/c/d/");
  EXPECT_EQ(canonicalUri("/..", false, true), "/");
  EXPECT_EQ(canonicalUri("/a/b/../c", false, false), "/a/b/../c");
}

TEST(CanonicalQuery, SortsEncodedPairsByNameThenValueAndDropsTheSignature) {
  const auto params = parseQuery("b=2&a=z&a=y&flag&X-Amz-Signature=abc&&c=%2F+");
  EXPECT_EQ(canonicalQuery(params), "a=y&a=z&b=2&c=%2F%2B&flag=");
}

SigningParams serviceParams() {
  SigningParams params;
  params.region = "eu-central-1";
  params.service = "appsync";
  params.credentials = {"AKIDEXAMPLE", "secret/key+value", "token/with+chars=", std::nullopt};
  params.time = *parseAmzDate("20240101T000000Z");
  return params;
}

http::HttpRequest graphqlRequest() {
  http::HttpRequest request;
  request.method = "POST";
  request.url = "https://api.example.com:8443/graphql";
  request.headers = {{"Content-Type", "application/json"},
                     {"User-Agent", "corvenza/0.1"},
                     {"Expect", ""},
                     {"Connection", "keep-alive"},
                     {"Transfer-Encoding", "chunked"}};
  request.body = R"({"query":"{ x }"})";
  return request;
}

TEST(SignRequest, SignsTheTokenAndHostButNeverHopByHopHeaders) {
  auto request = graphqlRequest();
  const auto result = signRequest(request, serviceParams());
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result->signedHeaders, "content-type;host;x-amz-date;x-amz-security-token");
  EXPECT_EQ(http::findHeader(request.headers, "Host"), "api.example.com:8443");
  EXPECT_EQ(http::findHeader(request.headers, "X-Amz-Security-Token"), "token/with+chars=");
  EXPECT_FALSE(http::findHeader(request.headers, "x-amz-content-sha256"));
}

TEST(SignRequest, SigningAgainReplacesTheEarlierSignature) {
  auto request = graphqlRequest();
  auto params = serviceParams();
  const auto first = signRequest(request, params);
  params.time += std::chrono::minutes(5);
  const auto second = signRequest(request, params);
  ASSERT_TRUE(first.ok() && second.ok());
  EXPECT_NE(first->signature, second->signature);
  EXPECT_EQ(second->signedHeaders, first->signedHeaders);
  int authorizations = 0;
  int dates = 0;
  for (const auto& [name, value] : request.headers) {
    authorizations += name == "Authorization";
    dates += name == "X-Amz-Date";
  }
  EXPECT_EQ(authorizations, 1);
  EXPECT_EQ(dates, 1);
  EXPECT_EQ(http::findHeader(request.headers, "X-Amz-Date"), "20240101T000500Z");

  // A fresh request signed at the second time gives the same signature.
  auto fresh = graphqlRequest();
  EXPECT_EQ(signRequest(fresh, params)->signature, second->signature);
}

TEST(SignRequest, FailuresNeverQuoteSecrets) {
  auto params = serviceParams();
  params.credentials.accessKeyId.clear();
  auto request = graphqlRequest();
  const auto missing = signRequest(request, params);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code(), 2);

  params = serviceParams();
  request.url = "not a url with token/with+chars=";
  const auto badUrl = signRequest(request, params);
  ASSERT_FALSE(badUrl.ok());
  const auto& text = badUrl.error().localizedDescription();
  EXPECT_EQ(text.find("secret/key"), std::string::npos);
  EXPECT_EQ(text.find("token/with"), std::string::npos);
}

TEST(PresignUrl, EncodesTheTokenAndRejectsLifetimesOutOfRange) {
  auto params = serviceParams();
  params.service = "s3";
  params.storageRules = true;
  const auto url = presignUrl("GET", "http://127.0.0.1:9000/bucket/k%20ey?x-id=GetObject", params,
                              std::chrono::seconds(900));
  ASSERT_TRUE(url.ok());
  EXPECT_TRUE(url->starts_with("http://127.0.0.1:9000/bucket/k%20ey?x-id=GetObject&X-Amz-"));
  EXPECT_NE(url->find("&X-Amz-Security-Token=token%2Fwith%2Bchars%3D&X-Amz-Signature="),
            std::string::npos);
  EXPECT_NE(url->find("X-Amz-Expires=900"), std::string::npos);

  for (auto seconds : {0, 604801}) {
    const auto rejected = presignUrl("GET", "https://h/k", params, std::chrono::seconds(seconds));
    ASSERT_FALSE(rejected.ok());
    EXPECT_EQ(rejected.error().domain(), "CorvenzaSigningError");
  }
  EXPECT_TRUE(presignUrl("GET", "https://h/k", params, std::chrono::seconds(604800)).ok());
}

}  // namespace
}  // namespace corvenza::sigv4
