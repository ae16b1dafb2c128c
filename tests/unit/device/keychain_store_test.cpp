#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/device/key_store.h"
#include "testkit/temp_dir.h"

namespace corvenza::device {
namespace {

namespace fs = std::filesystem;

unsigned modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 0777;
}

std::vector<std::string> filesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(KeychainStore, PersistsAcrossInstancesWithPrivateFiles) {
  const test::TempDir tmp;
  const auto dir = tmp.path() / "nested" / "corvenza";
  {
    auto store = makeKeychainStore("CorvenzaEnterprise", dir);
    EXPECT_FALSE(store->get("JwtToken"));
    EXPECT_TRUE(store->set("header.payload.sig", "JwtToken"));
    EXPECT_TRUE(store->set("", "IdentityId"));
    EXPECT_TRUE(store->set("line\n\"quoted\" ü", "Odd"));
  }
  auto reopened = makeKeychainStore("CorvenzaEnterprise", dir);
  EXPECT_EQ(reopened->get("JwtToken"), "header.payload.sig");
  EXPECT_EQ(reopened->get("IdentityId"), "") << "an empty value is still a value";
  EXPECT_EQ(reopened->get("Odd"), "line\n\"quoted\" ü");

  EXPECT_EQ(modeOf(dir), 0700u);
  EXPECT_EQ(modeOf(dir / "keychain-CorvenzaEnterprise.json"), 0600u);
  EXPECT_EQ(filesIn(dir), (std::vector<std::string>{"keychain-CorvenzaEnterprise.json",
                                                    "keychain-CorvenzaEnterprise.lock"}))
      << "no temporary file may be left behind";

  // Entries are stored under prefix + name.
  std::ifstream in(dir / "keychain-CorvenzaEnterprise.json");
  const auto json = nlohmann::json::parse(in);
  EXPECT_EQ(json.at("CorvenzaEnterpriseJwtToken"), "header.payload.sig");
}

TEST(KeychainStore, RemoveReportsWhetherSomethingWasDeleted) {
  const test::TempDir tmp;
  auto store = makeKeychainStore("P", tmp.path());
  EXPECT_FALSE(store->remove("JwtToken"));
  ASSERT_TRUE(store->set("a", "JwtToken"));
  ASSERT_TRUE(store->set("b", "JwtToken"));
  EXPECT_EQ(store->get("JwtToken"), "b");
  EXPECT_TRUE(store->remove("JwtToken"));
  EXPECT_FALSE(store->get("JwtToken"));
  EXPECT_FALSE(store->remove("JwtToken"));
}

TEST(KeychainStore, PrefixesDoNotSeeEachOther) {
  const test::TempDir tmp;
  auto first = makeKeychainStore("App", tmp.path());
  auto second = makeKeychainStore("App/Other", tmp.path());
  ASSERT_TRUE(first->set("one", "Key"));
  ASSERT_TRUE(second->set("two", "Key"));
  EXPECT_EQ(first->get("Key"), "one");
  EXPECT_EQ(second->get("Key"), "two");
  EXPECT_TRUE(second->remove("Key"));
  EXPECT_EQ(first->get("Key"), "one");
}

TEST(KeychainStore, CorruptFileReadsAsEmptyAndIsRewritten) {
  const test::TempDir tmp;
  tmp.write("keychain-P.json", "{\"PKey\": \"trunc");
  auto store = makeKeychainStore("P", tmp.path());
  EXPECT_FALSE(store->get("Key"));
  ASSERT_TRUE(store->set("fresh", "Key"));
  EXPECT_EQ(store->get("Key"), "fresh");
  std::ifstream in(tmp.path() / "keychain-P.json");
  EXPECT_TRUE(nlohmann::json::parse(in).is_object());

  tmp.write("keychain-P.json", "[1, 2]");
  EXPECT_FALSE(store->get("Key"));
}

TEST(KeychainStore, ValuesThatAreNotTextAreRefusedWithoutLosingOthers) {
  const test::TempDir tmp;
  auto store = makeKeychainStore("P", tmp.path());
  ASSERT_TRUE(store->set("kept", "A"));
  EXPECT_FALSE(store->set(std::string("\xff\xfe", 2), "B"));
  EXPECT_EQ(store->get("A"), "kept");
  EXPECT_FALSE(store->get("B"));
}

TEST(KeychainStore, DirectoryComesFromTheEnvironment) {
  const test::TempDir tmp;
  const char* savedOverride = std::getenv("CORVENZA_KEYCHAIN_DIR");
  const char* savedXdg = std::getenv("XDG_DATA_HOME");
  const std::string keepOverride = savedOverride ? savedOverride : "";
  const std::string keepXdg = savedXdg ? savedXdg : "";

  ::unsetenv("CORVENZA_KEYCHAIN_DIR");
  ::setenv("XDG_DATA_HOME", (tmp.path() / "xdg").c_str(), 1);
  EXPECT_TRUE(makeKeychainStore("P")->set("v", "K"));
  EXPECT_TRUE(fs::exists(tmp.path() / "xdg" / "corvenza" / "keychain-P.json"));

  ::setenv("CORVENZA_KEYCHAIN_DIR", (tmp.path() / "override").c_str(), 1);
  EXPECT_TRUE(makeKeychainStore("P")->set("v", "K"));
  EXPECT_TRUE(fs::exists(tmp.path() / "override" / "keychain-P.json"));

  if (savedOverride) {
    ::setenv("CORVENZA_KEYCHAIN_DIR", keepOverride.c_str(), 1);
  } else {
    ::unsetenv("CORVENZA_KEYCHAIN_DIR");
  }
  if (savedXdg) {
    ::setenv("XDG_DATA_HOME", keepXdg.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
}

constexpr int kEntriesEach = 10;

void writeEntries(const fs::path& dir, const std::string& who) {
  // A store of its own, so only the file lock keeps writers apart.
  auto store = makeKeychainStore("P", dir);
  for (int i = 0; i < kEntriesEach; ++i) store->set(who, who + "-" + std::to_string(i));
}

void expectAllEntries(const fs::path& dir, const std::vector<std::string>& writers) {
  auto store = makeKeychainStore("P", dir);
  for (const auto& who : writers) {
    for (int i = 0; i < kEntriesEach; ++i) {
      EXPECT_EQ(store->get(who + "-" + std::to_string(i)), who) << who << " " << i;
    }
  }
  EXPECT_EQ(filesIn(dir).size(), 2u);
}

TEST(KeychainStore, ConcurrentWritersFromThreadsKeepEveryEntry) {
  const test::TempDir tmp;
  std::vector<std::string> writers;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) writers.push_back("thread" + std::to_string(t));
  for (const auto& who : writers) threads.emplace_back(writeEntries, tmp.path(), who);
  // One shared instance as well, used from two threads at once.
  auto shared = makeKeychainStore("P", tmp.path());
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&shared, t] {
      for (int i = 0; i < kEntriesEach; ++i) {
        shared->set("s" + std::to_string(t), "s" + std::to_string(t) + "-" + std::to_string(i));
        shared->get("s0-0");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  writers.push_back("s0");
  writers.push_back("s1");
  expectAllEntries(tmp.path(), writers);
}

TEST(KeychainStore, ConcurrentWriterInAnotherProcessKeepsEveryEntry) {
  const test::TempDir tmp;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    writeEntries(tmp.path(), "child");
    ::_exit(0);
  }
  writeEntries(tmp.path(), "parent");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  expectAllEntries(tmp.path(), {"parent", "child"});
}

}  // namespace
}  // namespace corvenza::device
