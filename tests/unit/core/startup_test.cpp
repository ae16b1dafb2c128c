#include <corvenza/enterprise.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "requests/client_state.h"
#include "testkit/client_services.h"
#include "testkit/console_capture.h"
#include "testkit/temp_dir.h"

namespace corvenza {
namespace {

class FixedTokenProvider : public CorvenzaTokenProvider {
 public:
  explicit FixedTokenProvider(std::string id) : token_(CorvenzaToken("jwt", std::move(id))) {}
  std::optional<CorvenzaToken> token() const override { return token_; }
  void setToken(std::optional<CorvenzaToken> token) override { token_ = std::move(token); }

 private:
  std::optional<CorvenzaToken> token_;
};

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    detail::resetSharedInstanceForTesting();
    Bundle::setMainBundleDirectory(bundle_.path());
  }
  void TearDown() override {
    Bundle::setMainBundleDirectory({});
    detail::resetSharedInstanceForTesting();
  }

  void writeConfig(const std::string& text) { bundle_.write("corvenza-config.json", text); }

  static void expectDefaults(const CorvenzaEnterprise::Instance& e) {
    EXPECT_EQ(e.graphQLEndpoint(), Constants::APPSYNC_ENDPOINT_URL);
    EXPECT_EQ(e.cognitoIDPoolID(), Constants::COGNITO_ID_POOL_ID);
    EXPECT_EQ(e.graphQLRegion(), AWSRegionType::APNortheast1);
    EXPECT_EQ(e.cognitoIDPoolRegion(), AWSRegionType::APNortheast1);
    EXPECT_EQ(e.imageBucketName(), "");
    EXPECT_EQ(e.imageBucketRegion(), "");
    EXPECT_EQ(e.encryptionKey(), "");
  }

  test::TempDir bundle_;
  test::ConsoleCapture console_;
};

const char* kGoodConfig = R"({
  "graph_ql_endpoint": "http://127.0.0.1:9/graphql", "graph_ql_region": "us-east-1",
  "bucket_name": "b", "bucket_region": "us-west-2",
  "id_pool_id": "us-east-1:00000000-0000-0000-0000-000000000000",
  "id_pool_region": "ap-northeast-1", "encryption_key": "k"})";

TEST_F(StartupTest, FreshInstanceHoldsTheBuiltInDefaults) {
  auto& e = CorvenzaEnterprise::shared();
  expectDefaults(e);
  EXPECT_EQ(e.databaseName(), "CorvenzaEnterprise");
  EXPECT_EQ(e.databaseURL().filename(), "CorvenzaEnterprise");
  EXPECT_EQ(e.estimationTimeOutSec(), 45.0);
  EXPECT_EQ(e.estimationProgress(), EstimationProgressType::none);
  EXPECT_FALSE(e.initialized());
  EXPECT_EQ(CorvenzaEnterprise::tokenProvider(), nullptr);
}

TEST_F(StartupTest, MissingConfigFailsWith1997AndCanBeRetried) {
  auto first = std::make_shared<FixedTokenProvider>("first");
  try {
    CorvenzaEnterprise::initialize(first);
    FAIL() << "initialize should have thrown";
  } catch (const CorvenzaException& e) {
    EXPECT_EQ(e.error().domain(), "CorvenzaError");
    EXPECT_EQ(e.error().code(), 1997);
  }
  EXPECT_FALSE(CorvenzaEnterprise::shared().initialized());
  EXPECT_EQ(CorvenzaEnterprise::tokenProvider(), first);  // stored before the failure
  expectDefaults(CorvenzaEnterprise::shared());

  writeConfig(kGoodConfig);
  auto second = std::make_shared<FixedTokenProvider>("second");
  CorvenzaEnterprise::initialize(second);
  EXPECT_TRUE(CorvenzaEnterprise::shared().initialized());
  EXPECT_EQ(CorvenzaEnterprise::tokenProvider(), second);
  EXPECT_EQ(CorvenzaEnterprise::shared().encryptionKey(), "k");
}

TEST_F(StartupTest, SecondInitializeChangesNothing) {
  writeConfig(kGoodConfig);
  auto first = std::make_shared<FixedTokenProvider>("first");
  CorvenzaEnterprise::initialize(first);
  writeConfig(R"({"graph_ql_endpoint":"x","graph_ql_region":"x","bucket_name":"other",
                  "bucket_region":"x","id_pool_id":"x","id_pool_region":"x",
                  "encryption_key":"x"})");
  CorvenzaEnterprise::shared().initialize(std::make_shared<FixedTokenProvider>("second"));
  EXPECT_EQ(CorvenzaEnterprise::tokenProvider(), first);
  EXPECT_EQ(CorvenzaEnterprise::shared().imageBucketName(), "b");
}

TEST_F(StartupTest, LoadConfigCopiesEveryValueIntoTheFacade) {
  writeConfig(kGoodConfig);
  auto& e = CorvenzaEnterprise::shared();
  e.loadConfig();
  EXPECT_EQ(e.graphQLEndpoint(), "http://127.0.0.1:9/graphql");
  EXPECT_EQ(e.graphQLRegion(), AWSRegionType::USEast1);
  EXPECT_EQ(e.imageBucketName(), "b");
  EXPECT_EQ(e.imageBucketRegion(), "us-west-2");  // kept as text
  EXPECT_EQ(e.cognitoIDPoolID(), "us-east-1:00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(e.cognitoIDPoolRegion().value(), 9);
  EXPECT_EQ(e.encryptionKey(), "k");
  EXPECT_TRUE(console_.lines().empty());
}

TEST_F(StartupTest, UnknownRegionCodeBecomesUnknownRegion) {
  auto json = nlohmann::json::parse(kGoodConfig);
  json["graph_ql_region"] = "US-EAST-1";
  writeConfig(json.dump());
  CorvenzaEnterprise::shared().loadConfig();
  EXPECT_EQ(CorvenzaEnterprise::shared().graphQLRegion(), AWSRegionType::Unknown);
}

TEST_F(StartupTest, UnusableConfigFailsStartUpLikeAMissingOneAndBuildsNoClient) {
  struct Case {
    const char* name;
    std::string text;
    const char* line;
  };
  auto lacksKey = nlohmann::json::parse(kGoodConfig);
  lacksKey.erase("encryption_key");
  auto numberForString = nlohmann::json::parse(kGoodConfig);
  numberForString["bucket_name"] = 12;
  const char* decode = "Error: cannot decode config json";
  const Case cases[] = {
      {"not json", "{ this is not json", decode},
      {"lacks encryption_key", lacksKey.dump(), decode},
      {"number for a string", numberForString.dump(), decode},
      {"empty file", "", decode},
      {"over 1 MiB", std::string(2 << 20, ' ') + kGoodConfig, "Error: cannot read config json"},
      {"a FIFO", "", "Error: cannot read config json"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    detail::resetSharedInstanceForTesting();
    test::ConsoleCapture console;
    if (std::string(c.name) == "a FIFO") {
      std::filesystem::remove(bundle_.path() / "corvenza-config.json");
      ASSERT_EQ(::mkfifo((bundle_.path() / "corvenza-config.json").c_str(), 0600), 0);
    } else {
      writeConfig(c.text);
    }
    try {
      CorvenzaEnterprise::initialize(std::make_shared<FixedTokenProvider>("p"));
      ADD_FAILURE() << "initialize should have thrown";
    } catch (const CorvenzaException& e) {
      EXPECT_EQ(e.error().code(), 1997);
      EXPECT_TRUE(e.error().userInfo() && e.error().userInfo()->count("detail"));
    }
    EXPECT_FALSE(CorvenzaEnterprise::shared().initialized());
    EXPECT_EQ(CorvenzaEnterprise::shared().impl().services()->appSyncClient, nullptr);
    expectDefaults(CorvenzaEnterprise::shared());
    EXPECT_EQ(console.lines(), std::vector<std::string>{c.line});
    std::filesystem::remove(bundle_.path() / "corvenza-config.json");
  }
}

TEST_F(StartupTest, ADirectoryNamedLikeTheConfigIsNoConfig) {
  std::filesystem::create_directory(bundle_.path() / "corvenza-config.json");
  EXPECT_THROW(CorvenzaEnterprise::shared().loadConfig(), CorvenzaException);
}

class FakeReachability : public device::Reachability {
 public:
  explicit FakeReachability(device::Connection c) : connection_(c) {}
  device::Connection connection() const override { return connection_; }

 private:
  device::Connection connection_;
};

TEST_F(StartupTest, ReachabilityNeedsNoInitializeAndAsksAFreshProbeEachTime) {
  int probes = 0;
  device::Connection next = device::Connection::unavailable;
  test::changeServices(CorvenzaEnterprise::shared().impl(), [&](requests::ClientServices& s) {
    s.reachabilityFactory = [&] {
      ++probes;
      return std::make_unique<FakeReachability>(next);
    };
  });
  EXPECT_FALSE(CorvenzaEnterprise::isNetworkReachable());
  next = device::Connection::wifi;
  EXPECT_TRUE(CorvenzaEnterprise::isNetworkReachable());
  EXPECT_EQ(probes, 2);
  // Without a probe nothing says the network is down.
  test::changeServices(CorvenzaEnterprise::shared().impl(), [](requests::ClientServices& s) {
    s.reachabilityFactory = [] { return nullptr; };
  });
  EXPECT_TRUE(CorvenzaEnterprise::isNetworkReachable());
}

TEST_F(StartupTest, SystemProbeAnswers) {
  // Whatever the machine's network, the real probe must answer without a crash.
  auto probe = device::makeSystemReachability();
  ASSERT_NE(probe, nullptr);
  (void)probe->connection();
}

}  // namespace
}  // namespace corvenza
