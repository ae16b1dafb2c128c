// The emulator's dashboard in a real browser: headless Chromium follows
// requests that the command-line tool creates, shows their photos and
// measurements, and its buttons decide estimates. Skipped only when no
// Chromium is installed (scripts/bootstrap installs it).

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "browser/headless_browser.h"
#include "browser/png_pixels.h"
#include "estimation/estimation_fields.h"
#include "integration/shell_run.h"
#include "testkit/emulator_process.h"
#include "testkit/example_photos.h"
#include "testkit/temp_dir.h"

namespace corvenza::test {
namespace {

using nlohmann::json;
using std::chrono::seconds;

constexpr int kWidth = 1280;
constexpr int kHeight = 1400;

class DashboardBrowserTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (access(HeadlessBrowser::executable().c_str(), X_OK) != 0) return;
    root_ = std::make_unique<TempDir>();
    // Estimates wait for the dashboard's buttons.
    emulator_ = std::make_unique<EmulatorProcess>(
        CORVENZA_EMULATOR_PATH,
        std::vector<std::string>{"--write-bundle", (root_->path() / "bundle").string(),
                                 "--estimation-delay", "3600000"});
    browser_ = std::make_unique<HeadlessBrowser>(HeadlessBrowser::executable(), kWidth, kHeight);
  }
  static void TearDownTestSuite() {
    browser_.reset();
    emulator_.reset();
    root_.reset();
  }
  void SetUp() override {
    if (!browser_) {
      GTEST_SKIP() << "no browser at " << HeadlessBrowser::executable()
                   << ": scripts/bootstrap installs Debian's chromium (or set CORVENZA_CHROMIUM)";
    }
    ASSERT_TRUE(emulator_->ok()) << emulator_->error();
    ASSERT_TRUE(browser_->ok()) << browser_->error();
  }

  static ToolRun corvenza(const std::string& args) {
    const auto bundle = root_->path() / "bundle";
    return runShell(". " + shellQuoted((bundle / "emulator.env").string()) +
                        " && CORVENZA_USER_ID=browser-user CORVENZA_KEYCHAIN_DIR=" +
                        shellQuoted((root_->path() / "keychain").string()) +
                        " CORVENZA_CACHE_DIR=" + shellQuoted((root_->path() / "cache").string()) +
                        " exec " + shellQuoted(CORVENZA_CLI_PATH) + " " + args,
                    root_->path() / "stderr");
  }

  // Creates a request from the example photos; its id.
  static std::string create() {
    const auto run = corvenza(
        "create --json --height 170 --weight 62.5 --age 35 --gender female"
        " --front " +
        shellQuoted(kExamplePhotos + "front-4032x3024-exif6.jpg") + " --side " +
        shellQuoted(kExamplePhotos + "side-3024x4032.jpg"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return json::parse(run.out, nullptr, false).value("id", "");
  }

  static std::string dashboard() { return emulator_->endpoint("dashboard"); }

  bool waitFor(const std::string& expression, seconds limit = seconds(15)) {
    return browser_->waitFor(expression, limit);
  }
  std::string text(const std::string& selector) {
    const auto value =
        browser_->evaluate("document.querySelector(" + json(selector).dump() + ")?.textContent");
    return value.is_string() ? value.get<std::string>() : "";
  }
  Region box(const std::string& id) {
    const auto rect =
        browser_->evaluate("(() => { const r = document.getElementById(" + json(id).dump() +
                           ").getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })()");
    if (!rect.is_array() || rect.size() != 4) return {};
    return {rect[0].get<int>(), rect[1].get<int>(), rect[2].get<int>(), rect[3].get<int>()};
  }

  static std::unique_ptr<TempDir> root_;
  static std::unique_ptr<EmulatorProcess> emulator_;
  static std::unique_ptr<HeadlessBrowser> browser_;
};

std::unique_ptr<TempDir> DashboardBrowserTest::root_;
std::unique_ptr<EmulatorProcess> DashboardBrowserTest::emulator_;
std::unique_ptr<HeadlessBrowser> DashboardBrowserTest::browser_;

TEST_F(DashboardBrowserTest, ARequestAppearsLiveAndItsPageDrawsPhotosAndMeasurements) {
  ASSERT_TRUE(browser_->navigate(dashboard())) << browser_->error();
  ASSERT_TRUE(waitFor("document.getElementById('live')?.dataset.state === 'live'"))
      << browser_->error();
  // Set on this page only: a reload would lose it.
  browser_->evaluate("window.notReloaded = true");

  const auto id = create();
  ASSERT_FALSE(id.empty());
  const auto row = "document.querySelector('tr[data-id=\"" + id + "\"]')";
  ASSERT_TRUE(waitFor(row + " && " + row + ".textContent.includes('pendingAutomaticEstimation')"))
      << "the new request never appeared on the list";
  EXPECT_EQ(browser_->evaluate("window.notReloaded === true"), true);
  EXPECT_TRUE(waitFor("[..." + row + ".querySelectorAll('img')].length === 2 && [..." + row +
                      ".querySelectorAll('img')].every(i => i.complete && i.naturalWidth > 0)"))
      << "the list's thumbnails did not load";

  // The row's link leads to the request's own page.
  browser_->evaluate(row + ".querySelector('a').click()");
  // The script marks the feed live once its handlers are in place.
  ASSERT_TRUE(waitFor("location.pathname.endsWith('/requests/" + id +
                      "') && document.getElementById('live')?.dataset.state === 'live'"));
  browser_->evaluate("document.getElementById('complete-now').click()");
  ASSERT_TRUE(waitFor("document.getElementById('status')?.textContent === 'completed'"))
      << "the estimate never showed as completed: " << text("#notice");

  // The same eighteen values the tool reads, in the table and on the figure.
  const auto read = corvenza("get " + id + " --json");
  ASSERT_EQ(read.exitCode, 0) << read.err;
  // In the tool's order, which is the service's.
  const auto result = nlohmann::ordered_json::parse(read.out, nullptr, false)["result"];
  ASSERT_EQ(result.size(), emulator::estimation::kMeasurementFields.size()) << read.out;
  std::size_t i = 0;
  for (const auto& [name, value] : result.items()) {
    const std::string field = emulator::estimation::kMeasurementFields[i++];
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.1f", value.get<double>());
    EXPECT_EQ(text("#m-" + field), expected) << field << " (" << name << ")";
    EXPECT_EQ(text("#figure [data-measurement=\"" + field + "\"]"), expected) << field;
  }

  // Both photos load, the front one turned upright from its EXIF orientation.
  ASSERT_TRUE(
      waitFor("['front-photo', 'side-photo'].every(id => { const i = "
              "document.getElementById(id); return i.complete && i.naturalWidth > 0; })"));
  EXPECT_EQ(browser_->evaluate("(() => { const i = document.getElementById('front-photo'); "
                               "return i.naturalHeight > i.naturalWidth; })()"),
            true);

  const auto png = browser_->screenshot();
  ASSERT_FALSE(png.empty()) << browser_->error();
  std::ofstream(std::filesystem::current_path() / "dashboard_browser_test.png", std::ios::binary)
      << png;
  const auto pixels = decodePng(png);
  ASSERT_TRUE(pixels);
  EXPECT_EQ(pixels->width, kWidth);
  for (const char* element : {"front-photo", "side-photo", "figure"}) {
    const auto region = box(element);
    ASSERT_GT(region.width * region.height, 100 * 100) << element << " is not on the page";
    ASSERT_LE(region.y + region.height, pixels->height) << element << " is below the screenshot";
    // A photo or the drawn figure, not one flat colour (or a few, as a blank box with a border).
    EXPECT_GT(distinctColours(*pixels, region), 20) << element;
  }
}

TEST_F(DashboardBrowserTest, FailingAndDeletingShowWithoutAReload) {
  const auto id = create();
  ASSERT_FALSE(id.empty());
  ASSERT_TRUE(browser_->navigate(dashboard() + "requests/" + id)) << browser_->error();
  ASSERT_TRUE(
      waitFor("document.getElementById('live')?.dataset.state === 'live' && "
              "!document.getElementById('fail-now').disabled"));
  browser_->evaluate("window.notReloaded = true");

  browser_->evaluate("document.getElementById('fail-now').click()");
  ASSERT_TRUE(waitFor("document.getElementById('status')?.textContent === 'failed'"));
  EXPECT_EQ(text("#error-code"), "AUTOMATIC_ESTIMATION_FAILED");
  EXPECT_EQ(text("#m-neckCircumference"), "\xE2\x80\x93");

  const auto deleted = corvenza("delete " + id);
  ASSERT_EQ(deleted.exitCode, 0) << deleted.err;
  EXPECT_TRUE(waitFor("document.querySelector('h1')?.textContent === 'No such request'"));
  EXPECT_EQ(browser_->evaluate("window.notReloaded === true"), true);
}

}  // namespace
}  // namespace corvenza::test
