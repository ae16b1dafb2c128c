#pragma once
// Test hooks under /_control: move the emulator's clock, make services
// misbehave on request. Each hook is a named handler.

#include <functional>
#include <map>
#include <shared_mutex>
#include <string>

#include "base/service.h"
#include "context/emulator_context.h"

namespace corvenza::emulator {

class ControlService : public Service {
 public:
  using Hook = std::function<Response(const Request&)>;

  /// Installs the built-in hooks: GET/POST "/clock" ({"advance_seconds": n}
  /// moves time forward or back; the answer reports {"now", "offset_seconds"})
  /// and GET/POST/DELETE "/faults" (see faults/fault_control.h).
  explicit ControlService(EmulatorContext& context);

  /// Serves @p subpath ("/faults", say) with @p hook. Thread-safe.
  void addHook(std::string subpath, Hook hook);

  std::string_view name() const override { return "control"; }
  Response handle(const Request& request) override;

 private:
  std::shared_mutex mutex_;
  std::map<std::string, Hook> hooks_;
};

}  // namespace corvenza::emulator
