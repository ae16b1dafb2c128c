#include "platform/device/jwt_decoder.h"

#include <gtest/gtest.h>

namespace corvenza::device {
namespace {

using namespace std::chrono_literals;
using std::chrono::system_clock;

std::string base64Url(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  std::uint32_t buffer = 0;
  int bits = 0;
  for (unsigned char c : bytes) {
    buffer = (buffer << 8) | c;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out.push_back(kAlphabet[(buffer >> bits) & 0x3f]);
    }
  }
  if (bits > 0) out.push_back(kAlphabet[(buffer << (6 - bits)) & 0x3f]);
  return out;
}

std::string token(std::string_view payload, std::string_view header = R"({"alg":"RS256"})") {
  return base64Url(header) + "." + base64Url(payload) + "." + base64Url("signature-bytes");
}

TEST(JwtDecoder, ReadsClaimsAndExpiry) {
  // "ü" and "~~~" make the encoding use '-' and '_' and odd lengths.
  const auto decoded =
      decodeJwt(token(R"({"sub":"user-1","name":"Jürgen~~~?","exp":1700000000,"n":5})"));
  ASSERT_TRUE(decoded.ok()) << decoded.error().localizedDescription();
  EXPECT_EQ(decoded->stringClaim("sub"), "user-1");
  EXPECT_EQ(decoded->stringClaim("name"), "Jürgen~~~?");
  EXPECT_FALSE(decoded->stringClaim("n")) << "not a string";
  EXPECT_FALSE(decoded->stringClaim("missing"));
  EXPECT_EQ(decoded->expiresAt, system_clock::time_point(1700000000s));

  const auto withoutExp = decodeJwt(token(R"({"sub":"x"})"));
  ASSERT_TRUE(withoutExp.ok());
  EXPECT_FALSE(withoutExp->expiresAt);
  EXPECT_FALSE(withoutExp->isExpired(system_clock::time_point::max()));

  const auto textExp = decodeJwt(token(R"({"exp":"1700000000"})"));
  ASSERT_TRUE(textExp.ok());
  EXPECT_FALSE(textExp->expiresAt) << "only a numeric exp counts";

  const auto fractional = decodeJwt(token(R"({"exp":1700000000.25})"));
  ASSERT_TRUE(fractional.ok());
  EXPECT_EQ(fractional->expiresAt, system_clock::time_point(1700000000s + 250ms));

  const auto padded = decodeJwt(base64Url("{}") + "==." + base64Url(R"({"a":"b"})") + ".");
  ASSERT_TRUE(padded.ok()) << "padding and an empty signature are tolerated";
  EXPECT_EQ(padded->stringClaim("a"), "b");

  const auto huge = decodeJwt(token(R"({"exp":1e300})"));
  ASSERT_TRUE(huge.ok());
  EXPECT_FALSE(huge->isExpired(system_clock::now()));
}

TEST(JwtDecoder, ExpiryBoundaryIsExclusive) {
  const auto decoded = decodeJwt(token(R"({"exp":1700000000})"));
  ASSERT_TRUE(decoded.ok());
  const system_clock::time_point exp(1700000000s);
  EXPECT_FALSE(decoded->isExpired(exp - 1s));
  EXPECT_FALSE(decoded->isExpired(exp));
  EXPECT_TRUE(decoded->isExpired(exp + 1ns));
}

TEST(JwtDecoder, MalformedTokensAreErrorsThatNeverQuoteTheToken) {
  const std::string good = token(R"({"sub":"secret-subject"})");
  const std::string header = base64Url(R"({"alg":"none"})");
  const struct {
    std::string text;
    int code;
  } cases[] = {
      {"", 1},
      {"abc", 1},
      {header + "." + base64Url("{}"), 1},
      {good + ".extra", 1},
      {"." + base64Url("{}") + ".sig", 1},
      {header + ".e30*.sig", 2},
      {header + ".e30.s+g", 2},
      {header + "." + base64Url("{}") + "AB.sig", 2},  // impossible length
      {header + "." + base64Url("not json") + ".sig", 3},
      {header + "." + base64Url(R"(["an","array"])") + ".sig", 3},
      {header + "." + base64Url(R"("text")") + ".sig", 3},
      {header + "." + base64Url(R"({"open":)") + ".sig", 3},
      {base64Url("[]") + "." + base64Url("{}") + ".sig", 3},
  };
  for (const auto& c : cases) {
    const auto result = decodeJwt(c.text);
    ASSERT_FALSE(result.ok()) << c.text;
    EXPECT_EQ(result.error().domain(), "CorvenzaJWTError");
    EXPECT_EQ(result.error().code(), c.code) << c.text;
    if (c.text.size() > 4) {
      EXPECT_EQ(result.error().localizedDescription().find(c.text.substr(0, 5)), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace corvenza::device
