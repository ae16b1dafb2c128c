#include "dashboard/requests_page.h"

#include "dashboard/html.h"
#include "dashboard/page_layout.h"

namespace corvenza::emulator::dashboard {
namespace {

std::string pageLink(std::int64_t page, int perPage, const char* rel, const char* text) {
  return "<a rel=\"" + std::string(rel) + "\" href=\"?page=" + std::to_string(page) +
         "&amp;per_page=" + std::to_string(perPage) + "\">" + text + "</a>";
}

std::string thumbnailCell(const estimation::EstimationRecord& record, const char* side) {
  const std::string field = std::string(side) + "Image";
  if (!record.images.count(field) && !record.images.count(field + "Thumb")) {
    return "<td class=\"thumb muted\">\xE2\x80\x93</td>";
  }
  return "<td class=\"thumb\"><img src=\"" + requestPath(record.id) + "/" + side +
         "-thumb.jpg\" alt=\"" + side +
         " photo\" width=\"48\" height=\"64\" loading=\"lazy\"></td>";
}

}  // namespace

std::string requestPath(const std::string& id) {
  return std::string(kDashboardPath) + "/requests/" + htmlEscape(id);
}

std::string statusBadge(const std::string& status) {
  const char* tone = "other";
  if (status == estimation::kStatusCompleted) tone = "done";
  if (status == estimation::kStatusFailed) tone = "failed";
  if (status == estimation::kStatusRequested || status == estimation::kStatusPendingAutomatic ||
      status == estimation::kStatusPendingManual) {
    tone = "waiting";
  }
  return "<span class=\"status status-" + std::string(tone) + "\">" + htmlEscape(status) +
         "</span>";
}

std::string renderRequestsContent(const estimation::OverviewPage& page, const Paging& paging) {
  const auto pages = std::max<std::int64_t>(1, (page.total + paging.perPage - 1) / paging.perPage);
  std::string html = "<h1>Requests</h1>\n<p class=\"summary\">" + std::to_string(page.total) +
                     (page.total == 1 ? " request" : " requests") +
                     " from every user, newest first"
                     " \xC2\xB7 page " +
                     std::to_string(paging.page) + " of " + std::to_string(pages) + "</p>\n";
  if (page.items.empty()) {
    html += page.total == 0 ? "<p class=\"empty\">No requests yet: create one with the library or "
                              "<code>corvenza create</code>.</p>\n"
                            : "<p class=\"empty\">No requests on this page.</p>\n";
  } else {
    html +=
        "<table id=\"requests\" class=\"requests\">\n<thead><tr><th>Request</th><th>Status</th>"
        "<th>User</th><th>Created</th><th>Front</th><th>Side</th></tr></thead>\n<tbody>\n";
    for (const auto& record : page.items) {
      html += "<tr data-id=\"" + htmlEscape(record.id) + "\"><td><a class=\"id\" href=\"" +
              requestPath(record.id) + "\">" + htmlEscape(record.id) + "</a></td><td>" +
              statusBadge(record.status) + "</td><td class=\"user\">" + htmlEscape(record.userId) +
              "</td><td class=\"time\">" + htmlEscape(utcTime(record.createdAt)) + "</td>" +
              thumbnailCell(record, "front") + thumbnailCell(record, "side") + "</tr>\n";
    }
    html += "</tbody>\n</table>\n";
  }
  html += "<nav class=\"pager\" aria-label=\"Pages\">";
  if (paging.page > 1) {
    html +=
        pageLink(std::min(paging.page - 1, pages), paging.perPage, "prev", "\xE2\x86\x90 Newer");
  }
  if (paging.page < pages) {
    html += pageLink(paging.page + 1, paging.perPage, "next", "Older \xE2\x86\x92");
  }
  html += "</nav>\n";
  return html;
}

}  // namespace corvenza::emulator::dashboard
