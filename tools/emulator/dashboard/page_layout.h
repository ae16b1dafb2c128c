#pragma once
// The frame every dashboard page shares: head, the bar with the emulator's
// controls, the place for fault buttons, and the content.

#include <string>
#include <string_view>

#include "base/http_message.h"

namespace corvenza::emulator::dashboard {

/// Where the dashboard is mounted.
inline constexpr std::string_view kDashboardPath = "/dashboard";

struct PageFrame {
  /// Plain text; escaped here.
  std::string title;
  /// The change feed position the content was read at (data-feed).
  std::string feedPosition;
  /// The request the page shows, if it shows one (data-request-id); must
  /// already be a valid request id.
  std::string requestId;
};

/// A whole HTML document around @p contentHtml, which must be escaped
/// already. The document loads only the dashboard's own style sheet and script.
std::string renderPage(const PageFrame& frame, std::string_view contentHtml);

/// A text/html response with the headers every page carries: no caching, no
/// framing, and a content security policy that admits only the emulator's
/// own files (so nothing is fetched from outside the machine and no injected
/// markup could run script).
Response htmlResponse(int status, std::string body);

}  // namespace corvenza::emulator::dashboard
