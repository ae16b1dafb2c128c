// The data directory holds every identity's photos and measurements and the
// key that signs tokens: only its owner may read anything in it, whatever the
// umask, and also when the directory (and a key) was there before.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "bundle_writer.h"
#include "emulator.h"
#include "storage/object_store.h"
#include "testkit/temp_dir.h"

namespace corvenza::emulator {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 07777;
}

TEST(PrivateDataTest, NothingInTheDataDirectoryIsOpenToOtherUsers) {
  for (const mode_t existing : {0, 0755, 0777}) {  // 0: no directory yet
    SCOPED_TRACE(existing);
    test::TempDir dir;
    const auto data = dir.path() / "data";
    const auto mask = ::umask(0);
    if (existing) {
      fs::create_directory(data);
      ::chmod(data.c_str(), existing);
      std::ofstream(data / "token-secret") << "a key an earlier run left readable\n";
    }
    {
      Emulator emulator;
      EmulatorOptions options;
      options.dataDir = data;
      EXPECT_TRUE(emulator.start(options).ok());
      // Stored as the storage service stores an upload.
      EXPECT_TRUE(ObjectStore(data / "objects")
                      .put("corvenza-photos", "identity/request/front.jpg", "photo", {})
                      .ok());
    }
    ::umask(mask);
    EXPECT_EQ(modeOf(data), 0700u);
    for (const char* file : {"token-secret", "identities.sqlite3", "estimations.sqlite3"}) {
      EXPECT_EQ(modeOf(data / file), 0600u) << file;
    }
    for (const auto& entry : fs::recursive_directory_iterator(data)) {
      EXPECT_EQ(modeOf(entry.path()) & 077, 0u) << entry.path();
    }
  }
}

// emulator.env holds the API key: written whole and for its owner only, also
// over a readable one an earlier run left.
TEST(PrivateDataTest, TheBundlesEnvironmentFileIsItsOwnersOnly) {
  test::TempDir dir;
  std::ofstream(dir.path() / "emulator.env") << "export CORVENZA_API_KEY='old'\n";
  ::chmod((dir.path() / "emulator.env").c_str(), 0644);
  const auto mask = ::umask(0);
  const auto written = writeBundle(dir.path(), {{"api_key", "k"}, {"graphql", "http://g"}});
  ::umask(mask);
  ASSERT_TRUE(written.ok());
  EXPECT_EQ(modeOf(dir.path() / "emulator.env"), 0600u);
  std::ifstream in(dir.path() / "emulator.env");
  const std::string env((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(env.find("export CORVENZA_API_KEY='k'"), std::string::npos) << env;
}

// A bundle file that is a link is replaced by a file of its own: the file the
// link named is never written.
TEST(PrivateDataTest, ABundleFileThatIsALinkIsReplacedNotFollowed) {
  for (const char* name : {"corvenza-config.json", "emulator.env"}) {
    SCOPED_TRACE(name);
    test::TempDir dir;
    const auto victim = dir.write("victim", "keep me\n");
    fs::create_directory(dir.path() / "bundle");
    fs::create_symlink(victim, dir.path() / "bundle" / name);
    ASSERT_TRUE(writeBundle(dir.path() / "bundle", {{"graphql", "http://g"}}).ok());
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me\n");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.path() / "bundle" / name)));
  }
}

}  // namespace
}  // namespace corvenza::emulator
