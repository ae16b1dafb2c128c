#pragma once
// Test and dashboard hooks on the estimator: POST "/complete" or "/fail" with
// {"id": "<request id>"} below the mount point decides that request now
// instead of after the estimation delay.

#include "base/service.h"
#include "estimation/estimator.h"

namespace corvenza::emulator::estimation {

class EstimatorControl final : public Service {
 public:
  /// @p estimator must outlive the service.
  explicit EstimatorControl(Estimator& estimator) : estimator_(estimator) {}
  std::string_view name() const override { return "estimator-control"; }
  /// 200 {"id", "decided"} when decided; 404 for an unknown request, 409 for
  /// one not waiting for an estimate, 400 for a malformed body. Mounted
  /// behind a ControlGuard, which refuses bodies not declared as JSON.
  Response handle(const Request& request) override;

 private:
  Estimator& estimator_;
};

}  // namespace corvenza::emulator::estimation
