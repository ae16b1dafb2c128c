#pragma once
// The emulator's fault injection as tests drive it: add faults, clear them,
// count the requests they caught.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "integration/emulator_http_client.h"

namespace corvenza::test {

/// Faults of the emulator whose base URL is @p base.
class FaultControl {
 public:
  explicit FaultControl(std::string base) : url_(std::move(base) + "/_control/faults") {}

  PlainResponse request(const std::string& method, const nlohmann::json& body = nullptr) const {
    return plainRequest(method, url_, {"Content-Type: application/json"},
                        body.is_null() ? "" : body.dump());
  }
  /// Adds @p fault (an object or an array), failing the test when refused.
  void inject(const nlohmann::json& fault) const {
    const auto added = request("POST", fault);
    ASSERT_EQ(added.status, 200) << added.body;
  }
  void clear() const { request("DELETE"); }
  /// Requests caught so far by every fault still listed.
  int fired() const {
    int total = 0;
    const auto listed = nlohmann::json::parse(request("GET").body, nullptr, false);
    for (const auto& fault : listed.value("faults", nlohmann::json::array())) {
      total += fault.value("fired", 0);
    }
    return total;
  }

 private:
  std::string url_;
};

}  // namespace corvenza::test
