#pragma once
// The emulator's dashboard at /dashboard: every identity's requests, one
// request with its photos and measurements, a live change feed, and the
// page's own files. A development tool: it answers only loopback peers that
// name a loopback host.
//
//   GET /dashboard/                          the requests, ?page=N&per_page=M
//   GET /dashboard/requests/<id>             one request
//   GET /dashboard/requests/<id>/<photo>     front.jpg, side.jpg, front-thumb.jpg, side-thumb.jpg
//   GET /dashboard/events                    server-sent events of changes (?after=<position>)
//   GET /dashboard/assets/<name>             style sheet, script, icon

#include <chrono>
#include <filesystem>
#include <memory>

#include "base/service.h"
#include "dashboard/change_feed.h"
#include "dashboard/photo_source.h"
#include "estimation/estimation_store.h"

namespace corvenza::emulator::dashboard {

class DashboardService final : public Service {
 public:
  /// Shows @p store (which must outlive close()) and the photos under
  /// @p objectsRoot; holds an event request at most @p hold.
  DashboardService(estimation::EstimationStore& store, std::filesystem::path objectsRoot,
                   std::chrono::milliseconds hold = ChangeFeed::kDefaultHold);
  /// close()s.
  ~DashboardService() override;

  std::string_view name() const override { return "dashboard"; }
  Response handle(const Request& request) override;
  void handleAsync(Request request, Responder respond) override;

  /// Stops following the store and answers every held event request, so
  /// that nothing is left waiting when the server stops. Idempotent.
  void close();

  const ChangeFeed& feed() const { return *feed_; }

 private:
  Response listPage(const Request& request) const;
  Response requestRoute(const Request& request, std::string_view rest) const;
  Response assetRoute(std::string_view name) const;

  estimation::EstimationStore& store_;
  PhotoSource photos_;
  std::shared_ptr<ChangeFeed> feed_;
  int listener_ = -1;
};

}  // namespace corvenza::emulator::dashboard
