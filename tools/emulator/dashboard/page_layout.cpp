#include "dashboard/page_layout.h"

#include "dashboard/html.h"

namespace corvenza::emulator::dashboard {

namespace {

// Faults a developer most often wants to see their application survive, each
// for the next matching request only (see /_control/faults).
std::string faultButtons() {
  struct Button {
    const char* label;
    const char* fault;
  };
  static constexpr Button kButtons[] = {
      {"Refuse the token (401)", R"({"route":"auth","action":"fail","status":401})"},
      {"Fail the creation (503)",
       R"({"route":"graphql","field":"createBodysizeEstimation","action":"fail","status":503})"},
      {"Drop a photo upload", R"({"route":"storage","method":"PUT","action":"drop"})"},
      {"Lose the front attach answer",
       R"({"route":"graphql","field":"attachFrontImage","action":"drop","when":"after"})"},
      {"Stall a read for 60 s",
       R"({"route":"graphql","field":"getBodysizeEstimation","action":"stall","delay_ms":60000})"},
  };
  std::string html;
  for (const auto& button : kButtons) {
    html += "<button type=\"button\" data-fault=\"" + htmlEscape(button.fault) + "\">" +
            htmlEscape(button.label) + "</button>\n";
  }
  return html;
}

}  // namespace

std::string renderPage(const PageFrame& frame, std::string_view contentHtml) {
  const std::string base(kDashboardPath);
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>" +
      htmlEscape(frame.title) +
      " \xC2\xB7 Corvenza emulator</title>\n"
      "<link rel=\"icon\" type=\"image/svg+xml\" href=\"" +
      base + "/assets/favicon.svg\">\n<link rel=\"stylesheet\" href=\"" + base +
      "/assets/dashboard.css\">\n<script src=\"" + base +
      "/assets/dashboard.js\" defer></script>\n</head>\n<body data-feed=\"" +
      htmlEscape(frame.feedPosition) + "\" data-request-id=\"" + htmlEscape(frame.requestId) +
      "\">\n<header class=\"bar\">\n<a class=\"brand\" href=\"" + base +
      "/\">Corvenza emulator</a>\n"
      "<span id=\"live\" class=\"live\" data-state=\"connecting\">connecting</span>\n"
      "<nav class=\"controls\" aria-label=\"Emulator controls\">\n"
      "<button type=\"button\" data-post=\"/_control/drop-realtime-connections\" "
      "data-done=\"Real-time connections dropped; clients reconnect.\">"
      "Drop real-time connections</button>\n</nav>\n</header>\n"
      "<section id=\"faults\" class=\"faults\" aria-label=\"Fault injection\">\n"
      "<span class=\"muted\">Next request only:</span>\n" +
      faultButtons() +
      "<button type=\"button\" data-clear-faults=\"1\">Clear faults</button>\n"
      "</section>\n"
      "<p id=\"notice\" class=\"notice\" role=\"status\"></p>\n"
      "<main id=\"content\">\n";
  page += contentHtml;
  page +=
      "\n</main>\n<footer class=\"muted\">A development tool of corvenza-emulator: it shows "
      "every identity's requests to anyone on this machine. Never expose it.</footer>\n"
      "</body>\n</html>\n";
  return page;
}

Response htmlResponse(int status, std::string body) {
  Response response;
  response.status = status;
  response.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
  response.headers.emplace_back("Cache-Control", "no-store");
  response.headers.emplace_back("X-Content-Type-Options", "nosniff");
  response.headers.emplace_back("X-Frame-Options", "DENY");
  response.headers.emplace_back("Referrer-Policy", "no-referrer");
  response.headers.emplace_back(
      "Content-Security-Policy",
      "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
      "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
  response.body = std::move(body);
  return response;
}

}  // namespace corvenza::emulator::dashboard
