// The command-line tool with files that are not what they should be: a
// configuration that cannot be used, and prepare-photo outputs that must not
// be destroyed. No service is involved.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "integration/shell_run.h"
#include "testkit/example_photos.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

class CliFilesTest : public ::testing::Test {
 protected:
  ToolRun corvenza(const std::string& args) {
    // A service address that nothing listens on: anything sent would fail
    // differently from a start-up refusal.
    return runShell(
        "CORVENZA_API_URL=http://127.0.0.1:9 CORVENZA_API_KEY=k CORVENZA_KEYCHAIN_DIR=" +
            shellQuoted((dir_.path() / "data").string()) +
            " CORVENZA_CACHE_DIR=" + shellQuoted((dir_.path() / "cache").string()) + " exec " +
            shellQuoted(CORVENZA_CLI_PATH) + " " + args,
        dir_.path() / "stderr");
  }
  static std::string contentOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  TempDir dir_;
};

TEST_F(CliFilesTest, ConfigurationThatCannotBeUsedStopsEveryCommand) {
  const auto bundle = dir_.path() / "bundle";
  std::filesystem::create_directory(bundle);
  for (const std::string text : {"{ not json", R"({"graph_ql_endpoint": "http://127.0.0.1:9"})"}) {
    SCOPED_TRACE(text);
    std::ofstream(bundle / "corvenza-config.json", std::ios::trunc) << text;
    const auto config = corvenza("config --json --bundle " + shellQuoted(bundle.string()));
    EXPECT_EQ(config.exitCode, 1);
    EXPECT_TRUE(config.out.empty()) << config.out;
    EXPECT_NE(config.err.find("cannot be decoded"), std::string::npos) << config.err;

    const auto list = corvenza("list --bundle " + shellQuoted(bundle.string()));
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_NE(list.err.find("start-up failed: corvenza-config.json cannot be decoded"),
              std::string::npos)
        << list.err;
  }
}

TEST_F(CliFilesTest, FailedPreparePhotoLeavesItsOutputAsItWas) {
  const auto notAPhoto = dir_.write("not-a-photo.jpg", "plain text");
  const auto existing = dir_.write("existing.jpg", "keep me");
  const auto run = corvenza("prepare-photo " + shellQuoted(notAPhoto.string()) + " " +
                            shellQuoted(existing.string()));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(contentOf(existing), "keep me");

  // Only a regular file (or nothing) may be written: folders and links are refused.
  const auto folder = dir_.path() / "folder";
  std::filesystem::create_directory(folder);
  const auto link = dir_.path() / "link.jpg";
  std::filesystem::create_symlink(existing, link);
  for (const auto& target : {folder, link}) {
    SCOPED_TRACE(target);
    const auto refused =
        corvenza("prepare-photo " + shellQuoted(kExamplePhotos + "side-3024x4032.jpg") + " " +
                 shellQuoted(target.string()));
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("must be a regular file"), std::string::npos) << refused.err;
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(contentOf(existing), "keep me");

  // A success replaces the file whole, and leaves no scratch file behind.
  const auto ok = corvenza("prepare-photo " + shellQuoted(kExamplePhotos + "side-3024x4032.jpg") +
                           " " + shellQuoted(existing.string()));
  ASSERT_EQ(ok.exitCode, 0) << ok.err;
  EXPECT_EQ(contentOf(existing).substr(0, 2), "\xff\xd8");
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
  }
}

}  // namespace
}  // namespace corvenza::test
