#pragma once
/// @file
/// PermissionUtil: whether the camera and the photo library may be used, and
/// the prompt that leads the user to the device's settings when they may not.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvenza {

enum class AlertStyle { alert, actionSheet };
enum class AlertActionStyle { defaultStyle, cancel, destructive };

struct AlertAction {
  std::string title;
  AlertActionStyle style = AlertActionStyle::defaultStyle;
};

/// An alert to show: title, message and the actions in the order shown.
struct Alert {
  std::string title;
  std::string message;
  AlertStyle preferredStyle = AlertStyle::alert;
  std::vector<AlertAction> actions;
};

/// Shows alerts on one of the application's screens (the application supplies it).
class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;
  /// Shows @p alert, animated when @p animated. Called on the main queue.
  /// When the user picks an action, call @p chosen once with its index in
  /// `alert.actions`, from any thread; never call it if the alert is dismissed
  /// otherwise.
  virtual void present(const Alert& alert, bool animated,
                       std::function<void(std::size_t actionIndex)> chosen) = 0;
};

/// Looks up the localised text for an English text; nothing when there is no
/// entry (the English text is shown then). Called on the main queue.
using LocalizationTable = std::function<std::optional<std::string>(std::string_view english)>;

/// Receives true only when the user was sent to the device's settings; false
/// when access is granted, when the user cancels and when the settings page
/// cannot be opened. Runs at most once, on CorvenzaEnterprise::mainQueue().
using PermissionCallback = std::function<void(bool sentToSettings)>;

/// Camera and photo-library permissions. Only class-level operations.
///
/// The check operations read the current authorisation status:
/// - authorised: the callback receives false;
/// - not yet determined: the device is asked; granted gives false, anything
///   else shows the refusal prompt;
/// - denied, restricted, or any status without a name here (such as a
///   limited grant): treated as a refusal, the refusal prompt is shown.
///
/// The refusal prompt is an alert titled "Confirm" with the actions
/// "Settings" (default style) and "Cancel" (cancel style), presented animated
/// through @p presenter. "Settings" opens the device's settings page and gives
/// true, or gives false when it cannot be opened; "Cancel" gives false.
/// Without a presenter nothing is shown and the callback never runs.
///
/// Every prompt and every callback runs on CorvenzaEnterprise::mainQueue(),
/// whatever thread called the check. Thread-safe.
class PermissionUtil {
 public:
  PermissionUtil() = delete;

  /// True exactly when the camera is authorised.
  static bool isCameraEnabled();
  /// True exactly when the photo library is authorised.
  static bool isPhotoLibraryEnabled();

  static void checkCameraPermission(std::shared_ptr<AlertPresenter> presenter,
                                    PermissionCallback callback = {});
  static void checkPhotoLibraryPermission(std::shared_ptr<AlertPresenter> presenter,
                                          PermissionCallback callback = {});

  /// Installs the application's localisation table for the prompt's texts; an
  /// empty function restores plain English.
  static void setLocalizationTable(LocalizationTable table);
};

}  // namespace corvenza
