#include "dashboard/request_page.h"

#include "dashboard/body_figure.h"
#include "dashboard/html.h"
#include "dashboard/measurement_labels.h"
#include "dashboard/page_layout.h"
#include "dashboard/requests_page.h"

namespace corvenza::emulator::dashboard {
namespace {

std::string photoFigure(const estimation::EstimationRecord& record, const std::string& side,
                        const std::string& caption) {
  std::string html = "<figure class=\"photo\">";
  if (record.images.count(side + "Image") || record.images.count(side + "ImageThumb")) {
    const auto base = requestPath(record.id) + "/" + side;
    html += "<a href=\"" + base + ".jpg\" title=\"Full size\"><img id=\"" + side +
            "-photo\" src=\"" + base + "-thumb.jpg\" alt=\"" + caption +
            " photo\" width=\"240\" height=\"320\"></a>";
  } else {
    html += "<div id=\"" + side + "-photo\" class=\"no-photo\">not uploaded</div>";
  }
  return html + "<figcaption>" + caption + "</figcaption></figure>";
}

std::string fact(const char* name, const std::string& valueHtml, const char* id = nullptr) {
  std::string row = "<tr><th>" + std::string(name) + "</th><td";
  if (id) row += " id=\"" + std::string(id) + "\"";
  return row + ">" + valueHtml + "</td></tr>\n";
}

std::string optionalText(const std::optional<std::string>& value) {
  return value ? htmlEscape(*value) : "<span class=\"muted\">\xE2\x80\x93</span>";
}

}  // namespace

std::string renderRequestContent(const estimation::EstimationRecord& record) {
  const auto id = htmlEscape(record.id);
  std::string html = "<p class=\"crumbs\"><a href=\"" + std::string(kDashboardPath) +
                     "/\">Requests</a> / <span class=\"id\">" + id +
                     "</span></p>\n<h1>Request <code>" + id +
                     "</code></h1>\n<div class=\"grid\">\n";

  html += "<section class=\"panel photos\"><h2>Photos</h2>\n" +
          photoFigure(record, "front", "Front") + photoFigure(record, "side", "Side") +
          "</section>\n";

  html += "<section class=\"panel details\"><h2>Request</h2>\n<table class=\"facts\">\n";
  html += fact("Status", statusBadge(record.status), "status");
  html += fact("Error code", optionalText(record.errorCode), "error-code");
  html += fact("Height", htmlEscape(oneDecimal(record.height)) + " cm", "height");
  html += fact("Weight", htmlEscape(oneDecimal(record.weight)) + " kg", "weight");
  html += fact("Age", std::to_string(record.age), "age");
  html += fact("Gender", optionalText(record.gender), "gender");
  html += fact("Fail when automatic estimation fails",
               record.failOnAutomaticEstimationFailure
                   ? (*record.failOnAutomaticEstimationFailure ? "yes" : "no")
                   : "<span class=\"muted\">\xE2\x80\x93</span>");
  html += fact("User (identity)", "<span class=\"user\">" + htmlEscape(record.userId) + "</span>");
  html += fact("Created", htmlEscape(utcTime(record.createdAt)));
  html += "</table>\n";
  const bool waiting = record.status == estimation::kStatusPendingAutomatic ||
                       record.status == estimation::kStatusPendingManual;
  const std::string disabled = waiting ? "" : " disabled";
  html +=
      "<div class=\"actions\"><button type=\"button\" id=\"complete-now\" "
      "data-decide=\"complete\"" +
      disabled +
      ">Finish estimate now</button><button type=\"button\" id=\"fail-now\" "
      "data-decide=\"fail\"" +
      disabled + ">Fail estimate now</button></div>\n</section>\n";

  html +=
      "<section class=\"panel measurements\"><h2>Measurements</h2>\n"
      "<table id=\"measurements\" class=\"numbers\">\n<thead><tr><th>Measurement</th>"
      "<th>Value</th><th>Unit</th></tr></thead>\n<tbody>\n";
  for (const auto& label : kMeasurementLabels) {
    const auto field = std::string(label.field);
    const auto value = record.measurements.find(field);
    const bool known = value != record.measurements.end() && value->is_number();
    html += "<tr><th>" + htmlEscape(label.description) + "</th><td id=\"m-" + htmlEscape(field) +
            "\" data-measurement=\"" + htmlEscape(field) + "\">" +
            (known ? htmlEscape(oneDecimal(value->get<double>())) : "\xE2\x80\x93") +
            "</td><td>cm</td></tr>\n";
  }
  html += "</tbody>\n</table>\n</section>\n";

  html += "<section class=\"panel figure\"><h2>On the body</h2>\n" +
          bodyFigureSvg(record.measurements) + "\n</section>\n</div>\n";
  return html;
}

std::string renderMissingRequestContent(const std::string& id) {
  return "<p class=\"crumbs\"><a href=\"" + std::string(kDashboardPath) +
         "/\">Requests</a></p>\n<h1>No such request</h1>\n<p class=\"empty\">There is no "
         "request <code>" +
         htmlEscape(id) + "</code>: it may have been deleted.</p>\n";
}

}  // namespace corvenza::emulator::dashboard
