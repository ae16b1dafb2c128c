#include <corvenza/enterprise.h>
#include <corvenza/error.h>
#include <gtest/gtest.h>

namespace corvenza {
namespace {

TEST(CorvenzaErrorTest, CodeIsTwoThousandMinusPosition) {
  EXPECT_EQ(CorvenzaError::codeFor(CorvenzaErrorReason::unexpectedError), 2000);
  EXPECT_EQ(CorvenzaError::codeFor(CorvenzaErrorReason::invalidResponse), 1999);
  EXPECT_EQ(CorvenzaError::codeFor(CorvenzaErrorReason::notInitialized), 1998);
  EXPECT_EQ(CorvenzaError::codeFor(CorvenzaErrorReason::configNotFound), 1997);
  EXPECT_EQ(CorvenzaError::codeFor(CorvenzaErrorReason::notSignedIn), 1996);
  EXPECT_EQ(CorvenzaError::codeFor(CorvenzaErrorReason::appSyncClientTimeOut), 1995);
}

TEST(CorvenzaErrorTest, MadeFromReasonCarriesDomainCodeAndOptionalUserInfo) {
  CorvenzaError plain(CorvenzaErrorReason::configNotFound);
  EXPECT_EQ(plain.domain(), "CorvenzaError");
  EXPECT_EQ(plain.code(), 1997);
  EXPECT_FALSE(plain.userInfo().has_value());

  CorvenzaError withInfo(CorvenzaErrorReason::notSignedIn, UserInfo{{"who", "nobody"}});
  EXPECT_EQ(withInfo.code(), 1996);
  ASSERT_TRUE(withInfo.userInfo().has_value());
  EXPECT_EQ(withInfo.userInfo()->at("who"), "nobody");

  // Stored as a plain Error (as in an errors array) it keeps everything.
  Error stored = withInfo;
  EXPECT_EQ(stored, withInfo);
}

TEST(CorvenzaErrorTest, DescriptionIsNeverEmpty) {
  EXPECT_FALSE(
      CorvenzaError(CorvenzaErrorReason::appSyncClientTimeOut).localizedDescription().empty());
  EXPECT_NE(
      CorvenzaError(CorvenzaErrorReason::appSyncClientTimeOut).localizedDescription().find("1995"),
      std::string::npos);
  Error outside("SomeTransport", -1001, std::nullopt, "The request timed out.");
  EXPECT_EQ(outside.localizedDescription(), "The request timed out.");
  Error blank("", 0);
  EXPECT_FALSE(blank.domain().empty());
  EXPECT_FALSE(blank.localizedDescription().empty());
}

TEST(CorvenzaErrorTest, EachReasonSaysItsCauseInWords) {
  using R = CorvenzaErrorReason;
  const struct {
    R reason;
    const char* text;
  } cases[] = {
      {R::unexpectedError, "The library failed unexpectedly (CorvenzaError 2000)"},
      {R::invalidResponse, "The service's answer could not be read (CorvenzaError 1999)"},
      {R::notInitialized, "The library has not been initialized (CorvenzaError 1998)"},
      {R::configNotFound,
       "corvenza-config.json is missing, unreadable or malformed (CorvenzaError 1997)"},
      {R::notSignedIn, "No user is signed in (CorvenzaError 1996)"},
      {R::appSyncClientTimeOut, "The service did not answer in time (CorvenzaError 1995)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CorvenzaError(c.reason).localizedDescription(), c.text);
    // User information never changes the words.
    EXPECT_EQ(CorvenzaError(c.reason, UserInfo{{"detail", "x"}}).localizedDescription(), c.text);
  }
  // Errors of other domains made without words keep the platform's wording.
  EXPECT_EQ(makeInvalidResponseError().localizedDescription(),
            "The operation couldn't be completed. (CorvenzaUnknownError error 1999.)");
}

TEST(CorvenzaErrorTest, TheTwoSinglePurposeDomains) {
  Error invalid = makeInvalidResponseError();
  EXPECT_EQ(invalid.domain(), "CorvenzaUnknownError");
  EXPECT_EQ(invalid.code(), 1999);
  ASSERT_TRUE(invalid.userInfo().has_value());
  EXPECT_TRUE(invalid.userInfo()->empty());

  Error fetch = makeTokenFetchError();
  EXPECT_EQ(fetch.domain(), "CorvenzaTokenFetchError");
  EXPECT_EQ(fetch.code(), 111);
  ASSERT_TRUE(fetch.userInfo().has_value());
  EXPECT_EQ(fetch.userInfo()->at("detail"), "Cannot get both token and identityId");
}

TEST(CorvenzaErrorTest, UnknownErrorIsAFreshUnexpectedError) {
  Error e = CorvenzaEnterprise::unknownError();
  EXPECT_EQ(e.domain(), "CorvenzaError");
  EXPECT_EQ(e.code(), 2000);
  EXPECT_FALSE(e.userInfo().has_value());
}

}  // namespace
}  // namespace corvenza
