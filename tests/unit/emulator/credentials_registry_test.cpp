#include "context/credentials_registry.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace corvenza::emulator {
namespace {

using std::chrono::seconds;
const auto kNow = std::chrono::system_clock::time_point(seconds(1'700'000'000));

TEST(CredentialsRegistryTest, IssuedCredentialsLookLikeRealTemporaryOnes) {
  CredentialsRegistry registry;
  const auto a = registry.issue("id-1", kNow, kNow + seconds(3600));
  const auto b = registry.issue("id-1", kNow, kNow + seconds(3600));
  EXPECT_EQ(a.accessKeyId.rfind("ASIA", 0), 0u);
  EXPECT_EQ(a.accessKeyId.size(), 20u);
  EXPECT_EQ(a.secretKey.size(), 40u);
  // Tokens carry the characters that need escaping, so clients meet them.
  EXPECT_NE(a.sessionToken.find('/'), std::string::npos);
  EXPECT_NE(a.sessionToken.find('+'), std::string::npos);
  EXPECT_EQ(a.sessionToken.back(), '=');
  EXPECT_NE(a.accessKeyId, b.accessKeyId);
  EXPECT_NE(a.secretKey, b.secretKey);
  EXPECT_NE(a.sessionToken, b.sessionToken);
}

TEST(CredentialsRegistryTest, ValidateChecksKeyTokenAndExpiry) {
  CredentialsRegistry registry;
  const auto issued = registry.issue("id-1", kNow, kNow + seconds(60));

  const auto ok = registry.validate(issued.accessKeyId, issued.sessionToken, kNow + seconds(59));
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok->identityId, "id-1");
  EXPECT_EQ(ok->secretKey, issued.secretKey);

  auto codeOf = [&](const std::string& key, const std::string& token,
                    std::chrono::system_clock::time_point at) {
    const auto result = registry.validate(key, token, at);
    EXPECT_FALSE(result.ok());
    return result.ok() ? 0 : result.error().code();
  };
  EXPECT_EQ(codeOf("ASIAUNKNOWN000000000", issued.sessionToken, kNow), kCredentialsUnknownKey);
  EXPECT_EQ(codeOf(issued.accessKeyId, issued.sessionToken + "x", kNow),
            kCredentialsBadSessionToken);
  EXPECT_EQ(codeOf(issued.accessKeyId, issued.sessionToken, kNow + seconds(60)),
            kCredentialsExpired);
}

TEST(CredentialsRegistryTest, ExpiredCredentialsAreDroppedOnTheNextIssue) {
  CredentialsRegistry registry;
  const auto old = registry.issue("id-1", kNow, kNow + seconds(60));
  const auto fresh = registry.issue("id-2", kNow + seconds(61), kNow + seconds(3600));
  EXPECT_FALSE(registry.find(old.accessKeyId).has_value());
  EXPECT_TRUE(registry.find(fresh.accessKeyId).has_value());
  EXPECT_EQ(registry.size(), 1u);
}

TEST(CredentialsRegistryTest, IssuesAndValidatesFromManyThreads) {
  CredentialsRegistry registry;
  std::vector<std::thread> threads;
  std::atomic<int> valid{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        const auto issued = registry.issue("id", kNow, kNow + seconds(60));
        if (registry.validate(issued.accessKeyId, issued.sessionToken, kNow).ok()) ++valid;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(valid.load(), 200);
  EXPECT_EQ(registry.size(), 200u);
}

}  // namespace
}  // namespace corvenza::emulator
