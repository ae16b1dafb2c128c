// The corvenza command-line tool against the emulator, run as a user would:
// the environment file the emulator writes is sourced, then the tool runs.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "integration/cli_fixture.h"

namespace corvenza::test {
namespace {

using nlohmann::json;

class CliTest : public CliSuite {
 protected:
  static void SetUpTestSuite() {
    startEmulator({"--estimation-delay", "300", "--keep-alive", "1000"});
  }

  ToolRun corvenza(const std::string& args) { return run(args, "CORVENZA_USER_ID=cli-user"); }
};

TEST_F(CliTest, CreateWaitsForTheEstimateThenReadsListsUpdatesAndDeletes) {
  const auto created = corvenza(createArgs("170", kExamplePhotos + "front-4032x3024-exif6.jpg") +
                                " --wait --timeout 60 --json");
  ASSERT_EQ(created.exitCode, 0) << created.err;
  // Off a terminal each finished upload is one plain line.
  int uploads = 0;
  for (auto at = created.err.find("  sent "); at != std::string::npos;
       at = created.err.find("  sent ", at + 1)) {
    ++uploads;
  }
  EXPECT_EQ(uploads, 2) << created.err;
  const auto record = json::parse(created.out, nullptr, false);
  ASSERT_TRUE(record.is_object()) << created.out;
  EXPECT_EQ(record["status"], "completed");
  EXPECT_EQ(record["height"], 170.0);
  ASSERT_TRUE(record["result"].is_object()) << created.out;
  int measurements = 0;
  for (const auto& item : record["result"].items()) {
    const auto& value = item.value();
    if (item.key() != "errorCode" && value.is_number() && value.get<double>() > 0) ++measurements;
  }
  EXPECT_EQ(measurements, 18) << record["result"].dump();
  const auto id = record.value("id", "");
  ASSERT_FALSE(id.empty());

  const auto read = corvenza("get " + shellQuoted(id) + " --json");
  ASSERT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(json::parse(read.out, nullptr, false).value("id", ""), id);

  const auto listed = corvenza("list --all --json --limit 1");
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  bool found = false;
  std::istringstream lines(listed.out);
  for (std::string line; std::getline(lines, line);) {
    const auto item = json::parse(line, nullptr, false);
    ASSERT_TRUE(item.is_object()) << "not one JSON object per line: " << line;
    found = found || item.value("id", "") == id;
  }
  EXPECT_TRUE(found) << listed.out;

  const auto updated =
      corvenza("update " + shellQuoted(id) + " --height 180 --weight 70 --age 36 --json");
  ASSERT_EQ(updated.exitCode, 0) << updated.err;
  const auto reread =
      json::parse(corvenza("get " + shellQuoted(id) + " --json").out, nullptr, false);
  EXPECT_EQ(reread.value("height", 0.0), 180.0);
  EXPECT_EQ(reread.value("age", 0), 36);

  const auto deleted = corvenza("delete " + shellQuoted(id));
  ASSERT_EQ(deleted.exitCode, 0) << deleted.err;
  EXPECT_EQ(corvenza("get " + shellQuoted(id)).exitCode, 1);
}

TEST_F(CliTest, BadInputIsAUsageErrorAndAnUnknownIdAFailure) {
  const auto missing = corvenza(createArgs("170", kExamplePhotos + "no-such-photo.jpg"));
  EXPECT_EQ(missing.exitCode, 2) << missing.err;
  EXPECT_TRUE(missing.out.empty());

  const auto negative = corvenza(createArgs("-170", kExamplePhotos + "front-4032x3024-exif6.jpg"));
  EXPECT_EQ(negative.exitCode, 2) << negative.err;

  const auto unknown = corvenza("get 00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(unknown.exitCode, 1) << unknown.err;
  EXPECT_TRUE(unknown.out.empty()) << unknown.out;
  EXPECT_FALSE(unknown.err.empty());
}

}  // namespace
}  // namespace corvenza::test
