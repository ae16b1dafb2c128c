#include "server/router.h"

#include <mutex>
#include <utility>

namespace corvenza::emulator {
namespace {

bool isUnder(const std::string& path, const std::string& prefix) {
  if (prefix == "/" || prefix.empty()) return true;
  if (path.compare(0, prefix.size(), prefix) != 0) return false;
  return path.size() == prefix.size() || path[prefix.size()] == '/';
}

}  // namespace

void Router::mount(std::string prefix, std::shared_ptr<Service> service) {
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  std::unique_lock lock(mutex_);
  for (auto& existing : mounts_) {
    if (existing.prefix == prefix) {
      existing.service = std::move(service);
      return;
    }
  }
  mounts_.push_back({std::move(prefix), std::move(service)});
}

Router::Match Router::find(const std::string& path) const {
  std::shared_lock lock(mutex_);
  const Mount* best = nullptr;
  for (const auto& mount : mounts_) {
    if (isUnder(path, mount.prefix) && (!best || mount.prefix.size() > best->prefix.size())) {
      best = &mount;
    }
  }
  if (!best) return {};
  const auto cut = best->prefix == "/" ? 0 : best->prefix.size();
  return {best->service, path.substr(cut)};
}

void Router::dispatch(Request request, Service::Responder respond) const {
  auto match = find(request.path);
  if (!match.service) {
    respond(simpleError(404, "NotFound", "no service at this path"));
    return;
  }
  request.subpath = std::move(match.subpath);
  match.service->handleAsync(std::move(request), std::move(respond));
}

Response NotImplementedService::handle(const Request&) {
  return simpleError(501, "NotImplemented", name_ + " is not available in this emulator yet");
}

}  // namespace corvenza::emulator
