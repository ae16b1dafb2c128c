// Randomized error bodies of object storage: any body gives an error of the
// status with a description, and the code and message of a well-formed body
// come back exactly as the service wrote them.

#include <gtest/gtest.h>

#include "platform/storage/storage_error.h"
#include "testkit/mutations.h"

namespace corvenza::storage {
namespace {

std::string escapeXml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::vector<std::string> sampleBodies() {
  return {
      R"(<?xml version="1.0" encoding="UTF-8"?>)"
      "\n<Error><Code>AccessDenied</Code><Message>Access Denied</Message>"
      "<RequestId>REQ0001</RequestId><HostId>aGVsbG8=</HostId></Error>",
      "<Error><Code>SignatureDoesNotMatch</Code><Message>The request signature we calculated "
      "does not match the signature you provided.</Message><StringToSign>AWS4-HMAC-SHA256\n"
      "20240101T000000Z</StringToSign><CanonicalRequest>GET\n/bucket/key\nX-Amz-Date=1"
      "</CanonicalRequest></Error>",
      "<Error><Code>NoSuchKey</Code><Message>No key &quot;a&amp;b&lt;c&gt;&apos;</Message>"
      "<Key>a&amp;lt;</Key></Error>",
      "<Error><Message>only a message</Message><Code></Code></Error>",
      "",
  };
}

void expectDescribed(const http::HttpResponse& response) {
  SCOPED_TRACE(testing::Message() << response.status << " " << response.body.substr(0, 300));
  const Error error = storageErrorFromResponse(response);
  EXPECT_EQ(error.domain(), kStorageErrorDomain);
  EXPECT_EQ(error.code(), response.status);
  EXPECT_EQ(error.userInfoValue("HTTPStatus"), std::to_string(response.status));
  EXPECT_FALSE(error.localizedDescription().empty());
  if (const auto code = error.userInfoValue("Code"); code && !code->empty()) {
    EXPECT_EQ(error.localizedDescription().rfind(*code, 0), 0u) << error.localizedDescription();
  }
}

TEST(StorageErrorFuzzTest, AnyBodyGivesAnErrorOfTheStatus) {
  test::Mutator mutator(1999);
  const std::vector<int> statuses = {301, 307, 400, 403, 404, 409, 412, 500, 503};
  const auto count =
      test::forEachVariant(sampleBodies(), mutator, 1000, [&](std::string_view body) {
        http::HttpResponse response{mutator.pick(statuses), {}, std::string(body)};
        if (mutator.oneIn(2)) response.headers.emplace_back("x-amz-request-id", "HDR1");
        expectDescribed(response);
      });
  EXPECT_GT(count, 3500u);
}

TEST(StorageErrorFuzzTest, CodeMessageAndRequestIdRoundTrip) {
  test::Mutator mutator(2001);
  for (int round = 0; round < 2000; ++round) {
    const std::string code = "C" + mutator.randomUtf8(10);
    const std::string message = mutator.randomUtf8(40);
    const std::string requestId = mutator.randomUtf8(12);
    const bool withId = mutator.oneIn(2);
    const http::HttpResponse response{
        403,
        {{"x-amz-request-id", "HDR1"}},
        "<Error><Code>" + escapeXml(code) + "</Code><Message>" + escapeXml(message) + "</Message>" +
            (withId ? "<RequestId>" + escapeXml(requestId) + "</RequestId>" : "") + "</Error>"};
    expectDescribed(response);
    const Error error = storageErrorFromResponse(response);
    EXPECT_EQ(error.userInfoValue("Code"), code);
    EXPECT_EQ(error.userInfoValue("RequestId"), withId ? requestId : "HDR1");
    if (message.empty()) {
      EXPECT_EQ(error.localizedDescription(), code);
    } else {
      EXPECT_EQ(error.userInfoValue("Message"), message);
      EXPECT_EQ(error.localizedDescription(), code + ": " + message);
    }
  }
}

}  // namespace
}  // namespace corvenza::storage
