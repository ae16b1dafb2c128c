#include "platform/http/connection_settings.h"

#include <mutex>
#include <utility>

namespace corvenza::http {

namespace {

std::mutex& processMutex() {
  static std::mutex mutex;
  return mutex;
}

ConnectionSettings& processSettings() {
  static auto* settings = new ConnectionSettings();  // immortal: used until the very end
  return *settings;
}

class SettingsTransport final : public HttpTransport {
 public:
  SettingsTransport(std::shared_ptr<HttpTransport> inner, ConnectionSettings settings)
      : inner_(std::move(inner)), settings_(std::move(settings)) {}

  std::shared_ptr<Cancellable> send(HttpRequest request, ResponseCallback done,
                                    ProgressCallback progress) override {
    if (request.caFile.empty()) request.caFile = settings_.caFile;
    if (request.proxy.empty()) request.proxy = settings_.proxy;
    return inner_->send(std::move(request), std::move(done), std::move(progress));
  }

 private:
  const std::shared_ptr<HttpTransport> inner_;
  const ConnectionSettings settings_;
};

}  // namespace

void setProcessConnectionSettings(ConnectionSettings settings) {
  std::lock_guard lock(processMutex());
  processSettings() = std::move(settings);
}

ConnectionSettings processConnectionSettings() {
  std::lock_guard lock(processMutex());
  return processSettings();
}

std::shared_ptr<HttpTransport> withConnectionSettings(std::shared_ptr<HttpTransport> inner,
                                                      ConnectionSettings settings) {
  if (settings.caFile.empty() && settings.proxy.empty()) return inner;
  return std::make_shared<SettingsTransport>(std::move(inner), std::move(settings));
}

}  // namespace corvenza::http
