#include "dashboard/dashboard_service.h"

#include <nlohmann/json.hpp>

#include "base/log.h"
#include "base/loopback.h"
#include "dashboard/assets.h"
#include "dashboard/html.h"
#include "dashboard/page_layout.h"
#include "dashboard/paging.h"
#include "dashboard/request_id.h"
#include "dashboard/request_page.h"
#include "dashboard/requests_page.h"

namespace corvenza::emulator::dashboard {
namespace {

const char* kindName(estimation::ChangeKind kind) {
  switch (kind) {
    case estimation::ChangeKind::Create:
      return "create";
    case estimation::ChangeKind::Update:
      return "update";
    case estimation::ChangeKind::Delete:
      return "delete";
  }
  return "update";
}

}  // namespace

DashboardService::DashboardService(estimation::EstimationStore& store,
                                   std::filesystem::path objectsRoot,
                                   std::chrono::milliseconds hold)
    : store_(store), photos_(std::move(objectsRoot)), feed_(std::make_shared<ChangeFeed>(hold)) {
  // The feed, not the service, is captured: the store may still be calling a
  // listener it copied just before close() removed it.
  listener_ = store_.addListener([feed = feed_](estimation::ChangeKind kind, const std::string&,
                                                const nlohmann::json& record) {
    const nlohmann::json data = {{"kind", kindName(kind)},
                                 {"id", record.value("id", "")},
                                 {"status", record.value("status", "")}};
    feed->publish("change", data.dump());
  });
}

DashboardService::~DashboardService() { close(); }

void DashboardService::close() {
  if (listener_ >= 0) {
    store_.removeListener(listener_);
    listener_ = -1;
  }
  feed_->close();
}

void DashboardService::handleAsync(Request request, Responder respond) {
  // The server refuses these already (loopback.h). The dashboard shows every
  // identity's data, so it asks again of callers that reach it another way.
  const auto hosts = request.headerValues("Host");
  if (!isLoopbackPeer(request.remoteAddress) || hosts.size() != 1 ||
      !isLoopbackHost(hosts.front())) {
    return respond(plainText(403, "the dashboard answers only on this machine's loopback address"));
  }
  if (request.method != "GET") return respond(plainText(405, "the dashboard only answers GET"));
  if (request.subpath == "/events") {
    // A reconnecting browser says where it stopped; a new page says where its content was read.
    auto after = request.header("Last-Event-ID");
    if (!after) {
      if (const auto value = queryValue(request.query, "after")) after = std::string(*value);
    }
    feed_->subscribe(after ? std::optional<std::string_view>(*after) : std::nullopt,
                     std::move(respond));
    return;
  }
  respond(handle(request));
}

Response DashboardService::handle(const Request& request) {
  const std::string_view path = request.subpath;
  if (path.empty()) {
    Response redirect;
    redirect.status = 308;
    redirect.headers.emplace_back("Location", std::string(kDashboardPath) + "/");
    return redirect;
  }
  if (path == "/") return listPage(request);
  if (path.starts_with("/requests/")) return requestRoute(request, path.substr(10));
  if (path.starts_with("/assets/")) return assetRoute(path.substr(8));
  return htmlResponse(404, renderPage({"Not found", feed_->position(), ""},
                                      "<h1>Not found</h1>\n<p class=\"empty\">The dashboard has "
                                      "no such page.</p>\n"));
}

Response DashboardService::listPage(const Request& request) const {
  const auto paging = parsePaging(request.query);
  // The position first: a change made while the page is read then still reaches it.
  const auto position = feed_->position();
  auto page = store_.listAll(paging.offset(), paging.perPage);
  if (!page) {
    logLine("dashboard: " + page.error().localizedDescription());
    return plainText(500, "cannot read the requests");
  }
  return htmlResponse(200,
                      renderPage({"Requests", position, ""}, renderRequestsContent(*page, paging)));
}

Response DashboardService::requestRoute(const Request& request, std::string_view rest) const {
  const auto slash = rest.find('/');
  const auto id = std::string(rest.substr(0, slash));
  if (!isRequestId(id)) return plainText(404, "not a request id");
  const auto position = feed_->position();
  auto found = store_.find(id);
  if (!found) {
    logLine("dashboard: " + found.error().localizedDescription());
    return plainText(500, "cannot read the request");
  }
  if (slash == std::string_view::npos) {
    if (!*found) {
      return htmlResponse(
          404, renderPage({"No such request", position, id}, renderMissingRequestContent(id)));
    }
    return htmlResponse(200,
                        renderPage({"Request " + id, position, id}, renderRequestContent(**found)));
  }
  const auto choice = photoChoiceFromName(rest.substr(slash + 1));
  if (!choice) return plainText(404, "no such photo");
  if (!*found) return plainText(404, "no such request");
  return photos_.serve(**found, *choice, request.header("If-None-Match").value_or(""));
}

Response DashboardService::assetRoute(std::string_view name) const {
  const auto asset = findAsset(name);
  if (!asset) return plainText(404, "no such file");
  Response response;
  response.headers.emplace_back("Content-Type", std::string(asset->contentType));
  response.headers.emplace_back("Cache-Control", "no-cache");
  response.headers.emplace_back("X-Content-Type-Options", "nosniff");
  response.body = std::string(asset->bytes);
  return response;
}

}  // namespace corvenza::emulator::dashboard
