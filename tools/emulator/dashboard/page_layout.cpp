#include "dashboard/page_layout.h"

#include "dashboard/html.h"

namespace corvenza::emulator::dashboard {

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
      // Fault injection: the buttons for /_control/faults belong in this
      // section; until the emulator has that hook it only says so.
      "<section id=\"faults\" class=\"faults\" aria-label=\"Fault injection\">\n"
      "<span class=\"muted\">Fault injection: not available in this emulator.</span>\n"
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
