// The data directory holds every identity's photos and measurements and the
// key that signs tokens: only its owner may read anything in it, whatever the
// umask, and also when the directory (and a key) was there before.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

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

}  // namespace
}  // namespace corvenza::emulator
