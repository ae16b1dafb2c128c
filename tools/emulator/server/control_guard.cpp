#include "server/control_guard.h"

#include <cctype>
#include <string>

namespace corvenza::emulator {
namespace {

// "Application/JSON; charset=utf-8" -> "application/json".
std::string mediaType(std::string_view value) {
  std::string type;
  for (const char c : value.substr(0, value.find(';'))) {
    if (c != ' ' && c != '\t') {
      type += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return type;
}

}  // namespace

std::optional<Response> refuseNonJsonBody(const Request& request) {
  if (request.method == "GET" || request.method == "HEAD") return std::nullopt;
  const auto type = request.header("Content-Type");
  if (type ? mediaType(*type) == "application/json" : request.body.empty()) return std::nullopt;
  return simpleError(415, "UnsupportedMediaType", "send application/json");
}

Response ControlGuard::handle(const Request& request) {
  if (auto refusal = refuseNonJsonBody(request)) return std::move(*refusal);
  return hook_->handle(request);
}

void ControlGuard::handleAsync(Request request, Responder respond) {
  if (auto refusal = refuseNonJsonBody(request)) return respond(std::move(*refusal));
  hook_->handleAsync(std::move(request), std::move(respond));
}

}  // namespace corvenza::emulator
