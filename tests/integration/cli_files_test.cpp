// The command-line tool with files that are not what they should be: a
// configuration that cannot be used, and prepare-photo outputs that must not
// be destroyed. No service is involved.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

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

// `config` refuses what start-up cannot use, and every command that starts
// the library says why, without --verbose.
TEST_F(CliFilesTest, ConfigurationThatCannotBeUsedStopsEveryCommand) {
  const auto bundle = dir_.path() / "bundle";
  const auto file = bundle / "corvenza-config.json";
  const auto writes = [&](const std::string& text) {
    return [&, text] { std::ofstream(file, std::ios::trunc) << text; };
  };
  struct Case {
    std::function<void()> make;
    std::string says;  // by config
    std::string listSays;
  };
  const std::vector<Case> cases = {
      {writes("{ not json"), "cannot be decoded",
       "start-up failed: corvenza-config.json cannot be decoded"},
      {writes(R"({"graph_ql_endpoint": "http://127.0.0.1:9"})"), "cannot be decoded",
       "start-up failed: corvenza-config.json cannot be decoded"},
      {writes(R"({"graph_ql_endpoint": "file:///etc/passwd", "graph_ql_region": "us-east-1",
                  "bucket_name": "b", "bucket_region": "us-east-1", "id_pool_id": "us-east-1:p",
                  "id_pool_region": "us-east-1", "encryption_key": "k"})"),
       "graph_ql_endpoint 'file:///etc/passwd' is not an http or https URL",
       "The GraphQL endpoint is not a valid http or https URL"},
      {[&] { std::filesystem::create_symlink("corvenza-config.json", file); },
       file.string() + " is a link that leads round in a loop",
       "start-up failed: " + file.string() + " is a link that leads round in a loop"},
      {[&] { std::filesystem::create_directory(file); }, file.string() + " is a folder",
       "start-up failed: " + file.string() + " is a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    std::filesystem::remove_all(bundle);
    std::filesystem::create_directory(bundle);
    c.make();
    const auto config = corvenza("config --json --bundle " + shellQuoted(bundle.string()));
    EXPECT_EQ(config.exitCode, 1);
    EXPECT_TRUE(config.out.empty()) << config.out;
    EXPECT_NE(config.err.find(c.says), std::string::npos) << config.err;

    const auto list = corvenza("list --bundle " + shellQuoted(bundle.string()));
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_NE(list.err.find(c.listSays), std::string::npos) << list.err;
  }
}

TEST_F(CliFilesTest, FailedPreparePhotoLeavesItsOutputAsItWas) {
  const auto notAPhoto = dir_.write("not-a-photo.jpg", "plain text");
  const auto existing = dir_.write("existing.jpg", "keep me");
  const auto run = corvenza("prepare-photo " + shellQuoted(notAPhoto.string()) + " " +
                            shellQuoted(existing.string()));
  EXPECT_EQ(run.exitCode, 2) << "a photo that is not one is bad input, as for create";
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
