#pragma once
// The control hooks change what every client meets (faults, the clock, open
// connections), so a page on another site must not reach them. Without a
// preflight, which the emulator never grants, a browser sends such a page's
// body only as a form or as text: a hook takes a body only declared as JSON.
// (The server refuses any page's foreign Origin before this.)

#include <memory>
#include <optional>

#include "base/service.h"

namespace corvenza::emulator {

/// 415 for a request other than GET or HEAD that declares a Content-Type
/// other than application/json, or sends a body without one; nothing for a
/// request a hook may serve (a bodiless POST without a type is one).
std::optional<Response> refuseNonJsonBody(const Request& request);

/// Serves @p hook's requests that refuseNonJsonBody() lets through.
class ControlGuard final : public Service {
 public:
  explicit ControlGuard(std::shared_ptr<Service> hook) : hook_(std::move(hook)) {}
  std::string_view name() const override { return hook_->name(); }
  Response handle(const Request& request) override;
  void handleAsync(Request request, Responder respond) override;

 private:
  std::shared_ptr<Service> hook_;
};

}  // namespace corvenza::emulator
