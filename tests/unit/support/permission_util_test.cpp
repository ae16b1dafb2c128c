#include <corvenza/enterprise.h>
#include <corvenza/permission_util.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <thread>

#include "support/permission_backend_hook.h"
#include "testkit/temp_dir.h"

namespace corvenza {
namespace {

using device::AuthorizationStatus;
using device::MediaAccess;

class FakeBackend final : public device::PermissionBackend {
 public:
  AuthorizationStatus status(MediaAccess media) const override { return statuses.at(media); }
  void requestAccess(MediaAccess media, std::function<void(bool)> answer) override {
    requested.push_back(media);
    pendingAnswer = std::move(answer);
  }
  bool openSettings() override {
    ++settingsOpened;
    return canOpenSettings;
  }
  /// Answers the platform request from another thread, as a device would.
  void answerFromAnotherThread(bool granted) {
    std::thread([answer = std::move(pendingAnswer), granted] { answer(granted); }).join();
  }

  std::map<MediaAccess, AuthorizationStatus> statuses = {
      {MediaAccess::camera, AuthorizationStatus::notDetermined},
      {MediaAccess::photoLibrary, AuthorizationStatus::notDetermined}};
  std::vector<MediaAccess> requested;
  std::function<void(bool)> pendingAnswer;
  bool canOpenSettings = true;
  int settingsOpened = 0;
};

class FakePresenter final : public AlertPresenter {
 public:
  void present(const Alert& alert, bool animated,
               std::function<void(std::size_t)> chosen) override {
    alerts.push_back(alert);
    wasAnimated = animated;
    onMainQueue = CorvenzaEnterprise::mainQueue()->isCurrent();
    choose = std::move(chosen);
  }
  std::vector<Alert> alerts;
  bool wasAnimated = false;
  bool onMainQueue = false;
  std::function<void(std::size_t)> choose;
};

class PermissionUtilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CorvenzaEnterprise::setMainQueue(queue_);
    support::setPermissionBackend(backend_);
  }
  void TearDown() override {
    support::setPermissionBackend(nullptr);
    PermissionUtil::setLocalizationTable({});
    CorvenzaEnterprise::setMainQueue(nullptr);
    queue_->stop();
  }

  PermissionCallback recorder() {
    return [this](bool sentToSettings) {
      results_.push_back(sentToSettings);
      callbackOnMainQueue_ = queue_->isCurrent();
    };
  }

  std::shared_ptr<MainQueue> queue_ = MainQueue::callerDriven();
  std::shared_ptr<FakeBackend> backend_ = std::make_shared<FakeBackend>();
  std::shared_ptr<FakePresenter> presenter_ = std::make_shared<FakePresenter>();
  std::vector<bool> results_;
  bool callbackOnMainQueue_ = false;
};

TEST_F(PermissionUtilTest, AuthorisedAnswersFalseOnTheMainQueueWithoutPrompt) {
  backend_->statuses[MediaAccess::camera] = AuthorizationStatus::authorized;
  PermissionUtil::checkCameraPermission(presenter_, recorder());
  EXPECT_TRUE(results_.empty());  // never inline
  queue_->runPending();
  EXPECT_EQ(results_, std::vector<bool>{false});
  EXPECT_TRUE(callbackOnMainQueue_);
  EXPECT_TRUE(presenter_->alerts.empty());
  EXPECT_TRUE(backend_->requested.empty());
}

TEST_F(PermissionUtilTest, RefusalsShowTheSettingsPromptForEachMedium) {
  struct Case {
    MediaAccess media;
    AuthorizationStatus status;
    const char* message;
  };
  const char* camera =
      "Permission to access camera has not been given. This is necessary for normal operation. "
      "Please allow access in device settings.";
  const char* photos =
      "Access to photo library is necessary for normal operation. Please allow access in device "
      "settings.";
  for (const Case& c : {Case{MediaAccess::camera, AuthorizationStatus::denied, camera},
                        Case{MediaAccess::camera, AuthorizationStatus::restricted, camera},
                        Case{MediaAccess::photoLibrary, AuthorizationStatus::denied, photos},
                        Case{MediaAccess::photoLibrary, AuthorizationStatus::other, photos}}) {
    presenter_->alerts.clear();
    backend_->statuses[c.media] = c.status;
    if (c.media == MediaAccess::camera) {
      PermissionUtil::checkCameraPermission(presenter_, recorder());
    } else {
      PermissionUtil::checkPhotoLibraryPermission(presenter_, recorder());
    }
    EXPECT_TRUE(presenter_->alerts.empty());
    queue_->runPending();
    ASSERT_EQ(presenter_->alerts.size(), 1u);
    const Alert& alert = presenter_->alerts[0];
    EXPECT_EQ(alert.title, "Confirm");
    EXPECT_EQ(alert.message, c.message);
    EXPECT_EQ(alert.preferredStyle, AlertStyle::alert);
    ASSERT_EQ(alert.actions.size(), 2u);
    EXPECT_EQ(alert.actions[0].title, "Settings");
    EXPECT_EQ(alert.actions[0].style, AlertActionStyle::defaultStyle);
    EXPECT_EQ(alert.actions[1].title, "Cancel");
    EXPECT_EQ(alert.actions[1].style, AlertActionStyle::cancel);
    EXPECT_TRUE(presenter_->wasAnimated);
    EXPECT_TRUE(presenter_->onMainQueue);
  }
  EXPECT_TRUE(results_.empty());
  EXPECT_TRUE(backend_->requested.empty());
}

TEST_F(PermissionUtilTest, TheChosenActionDecidesTheAnswer) {
  backend_->statuses[MediaAccess::camera] = AuthorizationStatus::denied;
  auto choose = [&](std::size_t index) {
    PermissionUtil::checkCameraPermission(presenter_, recorder());
    queue_->runPending();
    // The presenter may answer from any thread.
    std::thread([choose = presenter_->choose, index] { choose(index); }).join();
    queue_->runPending();
  };

  choose(1);  // Cancel
  EXPECT_EQ(results_, std::vector<bool>{false});
  EXPECT_EQ(backend_->settingsOpened, 0);

  choose(0);  // Settings, which can be opened
  EXPECT_EQ(results_, (std::vector<bool>{false, true}));
  EXPECT_EQ(backend_->settingsOpened, 1);
  EXPECT_TRUE(callbackOnMainQueue_);

  backend_->canOpenSettings = false;
  choose(0);
  EXPECT_EQ(results_, (std::vector<bool>{false, true, false}));
  EXPECT_EQ(backend_->settingsOpened, 2);

  // A second choice on the same prompt is ignored.
  presenter_->choose(0);
  queue_->runPending();
  EXPECT_EQ(results_.size(), 3u);
}

TEST_F(PermissionUtilTest, WithoutAPresenterNothingIsShownAndNoAnswerComes) {
  backend_->statuses[MediaAccess::photoLibrary] = AuthorizationStatus::denied;
  PermissionUtil::checkPhotoLibraryPermission(nullptr, recorder());
  queue_->runPending();
  backend_->statuses[MediaAccess::camera] = AuthorizationStatus::notDetermined;
  PermissionUtil::checkCameraPermission(nullptr, recorder());
  backend_->answerFromAnotherThread(false);
  queue_->runPending();
  EXPECT_TRUE(results_.empty());
  EXPECT_EQ(backend_->settingsOpened, 0);
}

TEST_F(PermissionUtilTest, UndecidedAsksTheDeviceFirst) {
  PermissionUtil::checkCameraPermission(presenter_, recorder());
  ASSERT_EQ(backend_->requested, std::vector<MediaAccess>{MediaAccess::camera});
  backend_->answerFromAnotherThread(true);
  EXPECT_TRUE(results_.empty());
  queue_->runPending();
  EXPECT_EQ(results_, std::vector<bool>{false});
  EXPECT_TRUE(callbackOnMainQueue_);
  EXPECT_TRUE(presenter_->alerts.empty());

  PermissionUtil::checkPhotoLibraryPermission(presenter_, recorder());
  backend_->answerFromAnotherThread(false);
  queue_->runPending();
  ASSERT_EQ(presenter_->alerts.size(), 1u);
  EXPECT_EQ(presenter_->alerts[0].message.rfind("Access to photo library", 0), 0u);
  presenter_->choose(1);
  queue_->runPending();
  EXPECT_EQ(results_, (std::vector<bool>{false, false}));
}

TEST_F(PermissionUtilTest, EnabledOnlyWhenAuthorised) {
  for (auto status : {AuthorizationStatus::notDetermined, AuthorizationStatus::denied,
                      AuthorizationStatus::restricted, AuthorizationStatus::other}) {
    backend_->statuses[MediaAccess::camera] = status;
    backend_->statuses[MediaAccess::photoLibrary] = status;
    EXPECT_FALSE(PermissionUtil::isCameraEnabled());
    EXPECT_FALSE(PermissionUtil::isPhotoLibraryEnabled());
  }
  backend_->statuses[MediaAccess::camera] = AuthorizationStatus::authorized;
  EXPECT_TRUE(PermissionUtil::isCameraEnabled());
  EXPECT_FALSE(PermissionUtil::isPhotoLibraryEnabled());
}

TEST_F(PermissionUtilTest, PromptTextsComeFromTheLocalisationTable) {
  PermissionUtil::setLocalizationTable([](std::string_view english) -> std::optional<std::string> {
    if (english == "Confirm") return "Bestätigen";
    if (english == "Cancel") return "Abbrechen";
    return std::nullopt;
  });
  backend_->statuses[MediaAccess::camera] = AuthorizationStatus::denied;
  PermissionUtil::checkCameraPermission(presenter_, recorder());
  queue_->runPending();
  ASSERT_EQ(presenter_->alerts.size(), 1u);
  EXPECT_EQ(presenter_->alerts[0].title, "Bestätigen");
  EXPECT_EQ(presenter_->alerts[0].actions[0].title, "Settings");
  EXPECT_EQ(presenter_->alerts[0].actions[1].title, "Abbrechen");
  EXPECT_EQ(presenter_->alerts[0].message.rfind("Permission to access camera", 0), 0u);
}

}  // namespace
}  // namespace corvenza

namespace corvenza {
namespace {

TEST(LinuxPermissionBackendTest, PhotoLibraryFollowsThePicturesDirectory) {
  const char* previous = std::getenv("XDG_PICTURES_DIR");
  const std::string saved = previous != nullptr ? previous : "";
  test::TempDir dir;
  auto backend = device::makeLinuxPermissionBackend();

  ::setenv("XDG_PICTURES_DIR", dir.path().c_str(), 1);
  EXPECT_EQ(backend->status(device::MediaAccess::photoLibrary),
            device::AuthorizationStatus::authorized);
  ::setenv("XDG_PICTURES_DIR", (dir.path() / "missing").c_str(), 1);
  EXPECT_EQ(backend->status(device::MediaAccess::photoLibrary),
            device::AuthorizationStatus::restricted);
  bool granted = true;
  backend->requestAccess(device::MediaAccess::photoLibrary, [&](bool g) { granted = g; });
  EXPECT_FALSE(granted);

  if (previous != nullptr) {
    ::setenv("XDG_PICTURES_DIR", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_PICTURES_DIR");
  }
}

}  // namespace
}  // namespace corvenza
