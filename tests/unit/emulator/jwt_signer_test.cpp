#include "context/jwt_signer.h"

#include <gtest/gtest.h>

#include "base/random.h"
#include "platform/encoding/base64.h"

namespace corvenza::emulator {
namespace {

constexpr std::int64_t kNow = 1'700'000'000;

class JwtSignerTest : public ::testing::Test {
 protected:
  JwtSigner signer{"secret-one", "corvenza-emulator", "pool-a"};

  int failureCode(const std::string& token, std::int64_t now = kNow) const {
    const auto result = signer.verify(token, now);
    EXPECT_FALSE(result.ok());
    if (result.ok()) return 0;
    EXPECT_EQ(result.error().domain(), kJwtErrorDomain);
    if (!token.empty()) {
      EXPECT_EQ(result.error().localizedDescription().find(token), std::string::npos);
    }
    return result.error().code();
  }
};

TEST_F(JwtSignerTest, SignedTokenVerifiesWithItsClaims) {
  const auto token = signer.sign("region:identity", kNow, 900);
  const auto claims = signer.verify(token, kNow);
  ASSERT_TRUE(claims.ok()) << claims.error().localizedDescription();
  EXPECT_EQ((*claims)["sub"], "region:identity");
  EXPECT_EQ((*claims)["aud"], "pool-a");
  EXPECT_EQ((*claims)["iss"], "corvenza-emulator");
  EXPECT_EQ((*claims)["iat"], kNow);
  EXPECT_EQ((*claims)["exp"], kNow + 900);
  // base64url without padding, as clients decode it.
  EXPECT_EQ(token.find_first_of("+/="), std::string::npos);
}

TEST_F(JwtSignerTest, ExpiryIsExclusive) {
  const auto token = signer.sign("id", kNow, 60);
  EXPECT_TRUE(signer.verify(token, kNow + 59).ok());
  EXPECT_EQ(failureCode(token, kNow + 60), kJwtExpired);
}

TEST_F(JwtSignerTest, RejectsTamperingAndForeignTokens) {
  const auto token = signer.sign("victim", kNow, 900);
  const auto firstDot = token.find('.');
  const auto secondDot = token.find('.', firstDot + 1);

  // Same signature, claims naming someone else.
  const auto forgedClaims = encoding::base64UrlEncode(
      R"({"iss":"corvenza-emulator","sub":"attacker","aud":"pool-a","iat":1700000000,"exp":1700000900})");
  EXPECT_EQ(failureCode(token.substr(0, firstDot + 1) + forgedClaims + token.substr(secondDot)),
            kJwtBadSignature);

  JwtSigner otherKey{"secret-two", "corvenza-emulator", "pool-a"};
  EXPECT_EQ(failureCode(otherKey.sign("victim", kNow, 900)), kJwtBadSignature);

  JwtSigner otherPool{"secret-one", "corvenza-emulator", "pool-b"};
  EXPECT_EQ(failureCode(otherPool.sign("victim", kNow, 900)), kJwtWrongAudience);

  JwtSigner otherIssuer{"secret-one", "someone-else", "pool-a"};
  EXPECT_EQ(failureCode(otherIssuer.sign("victim", kNow, 900)), kJwtWrongIssuer);

  // An unsigned token must never pass, whatever its claims say.
  const auto unsignedToken = encoding::base64UrlEncode(R"({"alg":"none","typ":"JWT"})") + "." +
                             token.substr(firstDot + 1, secondDot - firstDot - 1) + ".";
  EXPECT_EQ(failureCode(unsignedToken), kJwtBadAlgorithm);
}

TEST_F(JwtSignerTest, MalformedTokensAreErrorsNotCrashes) {
  const auto token = signer.sign("id", kNow, 900);
  EXPECT_EQ(failureCode(""), kJwtMalformed);
  EXPECT_EQ(failureCode("only.two"), kJwtMalformed);
  EXPECT_EQ(failureCode(token + ".extra"), kJwtMalformed);
  EXPECT_EQ(failureCode("!!!.###.$$$"), kJwtMalformed);
  EXPECT_EQ(failureCode(encoding::base64UrlEncode("[1]") + "." + encoding::base64UrlEncode("{}") +
                        ".c2ln"),
            kJwtMalformed);
}

TEST(EncodingTest, UuidsAreVersionFourAndDistinct) {
  const auto uuid = randomUuid();
  ASSERT_EQ(uuid.size(), 36u);
  EXPECT_EQ(uuid[14], '4');
  EXPECT_NE(std::string("89ab").find(uuid[19]), std::string::npos);
  EXPECT_NE(uuid, randomUuid());
  EXPECT_EQ(uuidFromBytes(std::string(16, '\0')), "00000000-0000-4000-8000-000000000000");
}

}  // namespace
}  // namespace corvenza::emulator
