#include <corvenza/api_connector.h>
#include <corvenza/console.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <mutex>

#include "platform/http/http_transport.h"
#include "support/api_connector_transport.h"
#include "support/api_request.h"

namespace corvenza {

namespace support {

namespace {

std::mutex& transportMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<http::HttpTransport>& transportOverride() {
  static std::shared_ptr<http::HttpTransport> transport;
  return transport;
}

}  // namespace

void setAPIConnectorTransport(std::shared_ptr<http::HttpTransport> transport) {
  std::lock_guard lock(transportMutex());
  transportOverride() = std::move(transport);
}

std::shared_ptr<http::HttpTransport> apiConnectorTransport() {
  {
    std::lock_guard lock(transportMutex());
    if (transportOverride()) return transportOverride();
  }
  return http::sharedTransport();
}

}  // namespace support

namespace {

class TransportTask final : public DataTask {
 public:
  explicit TransportTask(std::shared_ptr<http::Cancellable> transfer)
      : transfer_(std::move(transfer)) {}
  void cancel() override { transfer_->cancel(); }

 private:
  std::shared_ptr<http::Cancellable> transfer_;
};

std::chrono::milliseconds timeoutOf(double seconds) {
  // Like the platform's URL loading, a non-positive interval means the default.
  if (!std::isfinite(seconds) || seconds <= 0) return std::chrono::milliseconds(60'000);
  const double millis = std::min(seconds * 1000.0, 1e12);
  return std::chrono::milliseconds(std::max<std::int64_t>(1, std::llround(millis)));
}

std::string describe(const Error& error) {
  return "Error Domain=" + error.domain() + " Code=" + std::to_string(error.code()) + " \"" +
         error.localizedDescription() + "\"";
}

}  // namespace

void APIConnector::startConnection() {
  auto built = support::createRequest(urlString, method(), parameters);
  if (!built.request) {
    connectionFailed(built.error);
    return;
  }
  if (cachePolicy == URLCachePolicy::returnCacheDataDontLoad) {
    connectionFailed(Error(kAPIConnectorErrorDomain, kAPIConnectorCacheMiss, std::nullopt,
                           "No cached response exists and loading is not allowed"));
    return;
  }
  // make() is the only way to a connector, so it is always shared.
  auto self = weak_from_this().lock();
  if (!self) {
    connectionFailed(Error(kAPIConnectorErrorDomain, kAPIConnectorNotShared, std::nullopt,
                           "An APIConnector must be created with APIConnector::make"));
    return;
  }
  http::HttpRequest request = std::move(*built.request);
  request.timeout = timeoutOf(timeoutInterval);
  for (const auto& [name, value] : header) http::setHeader(request.headers, name, value);

  const std::string shownUrl = http::redactedUrl(request.url);
  auto transfer = support::apiConnectorTransport()->send(
      std::move(request),
      [self = std::move(self), shownUrl](detail::Result<http::HttpResponse> outcome) {
        if (!outcome.ok()) {
          self->connectionFailed(outcome.error());
          return;
        }
        URLResponse response;
        response.url = shownUrl;
        response.statusCode = outcome->status;
        response.headerFields = outcome->headers;
        self->connectionSuccess(outcome->body, response);
      });
  task = std::make_shared<TransportTask>(std::move(transfer));
}

void APIConnector::connectionSuccess(const std::string& data, const URLResponse& response) {
  consoleLine("[H]:Success:" + response.description());
  std::string failure;
  auto record = TestCodable::decode(data, &failure);
  if (!record) {
    consoleLine("[H]:Serialize Error:" + failure);
    return;
  }
  if (auto target = delegate.lock()) target->apiConnectorDidReceive(*record);
}

void APIConnector::connectionFailed(const std::optional<Error>& error) {
  consoleLine("[H]:Failed:");
  if (error) consoleLine("error code :" + std::to_string(error->code()));
  consoleLine(error ? describe(*error) : std::string("Error"));
}

void APIConnector::connectionCancel() {
  if (task) task->cancel();
}

}  // namespace corvenza
