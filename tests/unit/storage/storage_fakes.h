#pragma once
// Fixed credentials, a caller-driven executor and a signed-header reader for
// the object-storage tests.

#include <deque>
#include <functional>
#include <string>

#include "platform/dispatch/executor.h"
#include "platform/http/http_types.h"
#include "platform/identity/credentials_source.h"
#include "testkit/fixed_credentials.h"

namespace corvenza::test {

inline sigv4::Credentials sessionCredentials() {
  return {"ASIAEXAMPLEKEY", "wJalrXUtnFEMI/K7MDENG/bPxRfiCYEXAMPLEKEY",
          "session/token+with=reserved", std::nullopt};
}

/// Runs work only when the test says so.
class QueueExecutor final : public dispatch::Executor {
 public:
  void execute(std::function<void()> work) override { work_.push_back(std::move(work)); }
  std::size_t runAll() {
    std::size_t ran = 0;
    while (!work_.empty()) {
      auto next = std::move(work_.front());
      work_.pop_front();
      next();
      ++ran;
    }
    return ran;
  }

 private:
  std::deque<std::function<void()>> work_;
};

/// The SignedHeaders list of an Authorization header, "" when absent.
inline std::string signedHeaders(const http::HttpHeaders& headers) {
  const auto authorization = http::findHeader(headers, "Authorization").value_or("");
  const auto start = authorization.find("SignedHeaders=");
  if (start == std::string::npos) return "";
  const auto from = start + std::string("SignedHeaders=").size();
  return authorization.substr(from, authorization.find(',', from) - from);
}

}  // namespace corvenza::test
