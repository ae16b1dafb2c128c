#pragma once
// What the command-line tool's suites share: one emulator per suite that
// writes its bundle, and the tool run as a user would run it, with the
// emulator's environment file sourced and a home of the test's own.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "integration/shell_run.h"
#include "testkit/emulator_process.h"
#include "testkit/example_photos.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {

class CliSuite : public ::testing::Test {
 protected:
  /// Starts the suite's emulator with @p extraArgs beside --write-bundle.
  static void startEmulator(std::vector<std::string> extraArgs) {
    root_ = std::make_unique<TempDir>();
    extraArgs.insert(extraArgs.begin(), {"--write-bundle", (root_->path() / "bundle").string()});
    emulator_ = std::make_unique<EmulatorProcess>(CORVENZA_EMULATOR_PATH, std::move(extraArgs));
  }
  static void TearDownTestSuite() {
    emulator_.reset();
    root_.reset();
  }
  void SetUp() override { ASSERT_TRUE(emulator_->ok()) << emulator_->error(); }

  /// The shell words that give a command the emulator's environment, this
  /// test's token store and cache, and then @p settings ("NAME=value ...").
  std::string environment(const std::string& settings = {}) const {
    return ". " + shellQuoted((root_->path() / "bundle" / "emulator.env").string()) +
           " && unset CORVENZA_USER_ID && export CORVENZA_KEYCHAIN_DIR=" +
           shellQuoted((home_.path() / "data").string()) +
           " CORVENZA_CACHE_DIR=" + shellQuoted((home_.path() / "cache").string()) + " " +
           settings + " &&";
  }

  /// Runs the tool with @p args (shell-quoted where needed) after @p settings.
  ToolRun run(const std::string& args, const std::string& settings = {}) {
    const auto errFile = home_.path() / ("stderr-" + std::to_string(++runs_));
    return runShell(environment(settings) + " exec " + shellQuoted(CORVENZA_CLI_PATH) + " " + args,
                    errFile);
  }

  /// "create" with fixed measurements and the example photos.
  static std::string createArgs(const std::string& height = "170",
                                const std::string& front = kExamplePhotos +
                                                           "front-4032x3024-exif6.jpg") {
    return "create --height " + height + " --weight 62.5 --age 35 --gender female --front " +
           shellQuoted(front) + " --side " + shellQuoted(kExamplePhotos + "side-3024x4032.jpg");
  }

  TempDir home_;
  std::atomic<int> runs_{0};
  static inline std::unique_ptr<TempDir> root_;
  static inline std::unique_ptr<EmulatorProcess> emulator_;
};

}  // namespace corvenza::test
