#include <corvenza/direct_token_provider.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "testkit/temp_dir.h"

namespace corvenza {
namespace {

class InstallationUserIdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* saved = std::getenv("CORVENZA_KEYCHAIN_DIR");
    if (saved) saved_ = saved;
    ::setenv("CORVENZA_KEYCHAIN_DIR", store().c_str(), 1);
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("CORVENZA_KEYCHAIN_DIR", saved_->c_str(), 1);
    } else {
      ::unsetenv("CORVENZA_KEYCHAIN_DIR");
    }
  }
  std::filesystem::path store() const { return home_.path() / "store"; }
  std::filesystem::path file() const { return store() / "installation-user-id"; }

  test::TempDir home_;
  std::optional<std::string> saved_;
};

TEST_F(InstallationUserIdTest, MadeOnceInAPrivateFileAndTheSameForEveryCaller) {
  // Callers starting together in a fresh store, many times over: one id each time.
  for (int round = 0; round < 20; ++round) {
    ::setenv("CORVENZA_KEYCHAIN_DIR", (store() / std::to_string(round)).c_str(), 1);
    std::mutex mutex;
    std::set<std::string> ids;
    std::vector<std::thread> callers;
    for (int i = 0; i < 8; ++i) {
      callers.emplace_back([&] {
        auto id = DirectTokenProvider::installationUserId();
        std::lock_guard lock(mutex);
        ids.insert(id.value_or("(none)"));
      });
    }
    for (auto& caller : callers) caller.join();
    ASSERT_EQ(ids.size(), 1u) << "round " << round;
  }
  ::setenv("CORVENZA_KEYCHAIN_DIR", store().c_str(), 1);
  const auto id = DirectTokenProvider::installationUserId().value_or("");
  EXPECT_EQ(id.rfind("anonymous-", 0), 0u) << id;
  EXPECT_EQ(id.size(), 42u);
  EXPECT_EQ(DirectTokenProvider::installationUserId(), id);

  struct stat info {};
  ASSERT_EQ(::stat(file().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(store().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(InstallationUserIdTest, DamagedFileOrPlantedLinkIsReplacedWithoutTouchingItsTarget) {
  ASSERT_TRUE(DirectTokenProvider::installationUserId());
  { std::ofstream(file(), std::ios::trunc) << "not an id\n"; }
  auto replaced = DirectTokenProvider::installationUserId();
  ASSERT_TRUE(replaced);
  EXPECT_NE(*replaced, "not an id");
  EXPECT_EQ(DirectTokenProvider::installationUserId(), replaced);

  const auto target = home_.write("target", "anonymous-planted");
  std::filesystem::remove(file());
  std::filesystem::create_symlink(target, file());
  auto afterLink = DirectTokenProvider::installationUserId();
  ASSERT_TRUE(afterLink);
  EXPECT_NE(*afterLink, "anonymous-planted");
  EXPECT_FALSE(std::filesystem::is_symlink(file()));
  std::ifstream in(target);
  std::string untouched;
  std::getline(in, untouched);
  EXPECT_EQ(untouched, "anonymous-planted");
}

TEST_F(InstallationUserIdTest, UnusableStoreIsReportedInWords) {
  home_.write("store", "a file where the folder should be");
  Error error("none", 0);
  EXPECT_FALSE(DirectTokenProvider::installationUserId(&error));
  EXPECT_EQ(error.domain(), "CorvenzaFileError");
  EXPECT_FALSE(error.localizedDescription().empty());
}

}  // namespace
}  // namespace corvenza
