#include "platform/device/jwt_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "testkit/mutations.h"

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

// Decodes @p text from a block of exactly its size and checks what came out:
// an error with one of the three codes that does not quote the token, or a
// payload object whose expiry is its "exp" claim (saturated beyond the clock).
void expectDecodedOrRefused(std::string_view text) {
  SCOPED_TRACE(std::string(text.substr(0, 200)));
  const test::ExactBytes exact(text);
  const auto decoded = decodeJwt(exact.text());
  if (!decoded.ok()) {
    EXPECT_EQ(decoded.error().domain(), "CorvenzaJWTError");
    EXPECT_GE(decoded.error().code(), 1);
    EXPECT_LE(decoded.error().code(), 3);
    const auto payload = text.substr(text.find('.') + 1, 12);
    if (text.find('.') != std::string_view::npos && payload.size() >= 8) {
      EXPECT_EQ(decoded.error().localizedDescription().find(payload), std::string::npos);
    }
    return;
  }
  const auto claims = nlohmann::json::parse(decoded->payloadJson, nullptr, false);
  ASSERT_TRUE(claims.is_object());
  const auto exp = claims.find("exp");
  if (exp == claims.end() || !exp->is_number()) {
    EXPECT_FALSE(decoded->expiresAt);
    return;
  }
  ASSERT_TRUE(decoded->expiresAt);
  const double seconds = exp->get<double>();
  const auto now = system_clock::now();
  if (seconds > 9.3e9) {
    EXPECT_FALSE(decoded->isExpired(now));
  } else if (seconds < -9.3e9) {
    EXPECT_TRUE(decoded->isExpired(now));
  } else if (std::abs(seconds) < 9.2e9) {
    const double read =
        std::chrono::duration<double>(decoded->expiresAt->time_since_epoch()).count();
    EXPECT_NEAR(read, seconds, 1e-6 + std::abs(seconds) * 1e-15);
  }
}

TEST(JwtDecoderFuzz, RandomAndDamagedTokensDecodeOrFailCleanly) {
  test::Mutator mutator(4242);
  const nlohmann::json claims = {
      {"sub", "user-1"}, {"exp", 1700000000}, {"custom:id", "eu-west-1:abc"}, {"n", {1, 2.5}}};
  const std::vector<std::string> samples = {
      token(claims.dump()), token(R"({"exp":1700000000.75})"),
      base64Url("{}") + "==." + base64Url(R"({"a":"b"})") + "."};
  auto count = test::forEachVariant(samples, mutator, 1500, expectDecodedOrRefused);

  // Whole tokens around damaged payloads, and from random base64url parts.
  const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_=.+/ ";
  for (int round = 0; round < 1500; ++round, count += 2) {
    expectDecodedOrRefused(token(mutator.mutateJson(claims).text));
    std::string parts;
    for (std::size_t n = mutator.below(6); n > 0; --n) {
      parts += mutator.randomText(alphabet, 40) + (n > 1 ? "." : "");
    }
    expectDecodedOrRefused(parts);
  }
  EXPECT_GT(count, 7000u);

  // Expiries of every odd kind; NaN and Infinity are not JSON at all.
  for (const char* exp : {"0",
                          "-1",
                          "0.5",
                          "-0.5",
                          "1e300",
                          "-1e300",
                          "1e19",
                          "-1e19",
                          "9.2e9",
                          "-9.2e9",
                          "9.3e9",
                          "9223372036854775807",
                          "-9223372036854775808",
                          "18446744073709551615",
                          "1e-300",
                          "4.9e-324",
                          "1e400",
                          "NaN",
                          "Infinity",
                          "\"1\"",
                          "null",
                          "[1]",
                          "{}",
                          "true"}) {
    expectDecodedOrRefused(token(std::string(R"({"exp":)") + exp + "}"));
  }
}

TEST(JwtDecoderFuzz, ClaimsRoundTripThroughEncoding) {
  test::Mutator mutator(99);
  for (int round = 0; round < 1000; ++round) {
    const std::string subject = mutator.randomUtf8(20);
    const auto exp = static_cast<std::int64_t>(mutator.below(8'000'000'000)) - 4'000'000'000;
    const auto decoded = decodeJwt(token(nlohmann::json{{"sub", subject}, {"exp", exp}}.dump()));
    ASSERT_TRUE(decoded.ok()) << subject;
    EXPECT_EQ(decoded->stringClaim("sub"), subject);
    EXPECT_EQ(decoded->expiresAt, system_clock::time_point(std::chrono::seconds(exp)));
  }
}

}  // namespace
}  // namespace corvenza::device
