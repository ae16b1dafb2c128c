#include "platform/http/trust_store.h"

#include <cstdlib>

namespace corvenza::http {

std::filesystem::path trustedAuthorities(const std::filesystem::path& chosen) {
  if (!chosen.empty()) return chosen;
  const char* bundle = std::getenv("AWS_CA_BUNDLE");
  return bundle && *bundle ? std::filesystem::path(bundle) : std::filesystem::path();
}

namespace {

class TrustingTransport final : public HttpTransport {
 public:
  TrustingTransport(std::shared_ptr<HttpTransport> inner, std::filesystem::path caFile)
      : inner_(std::move(inner)), caFile_(std::move(caFile)) {}

  std::shared_ptr<Cancellable> send(HttpRequest request, ResponseCallback done,
                                    ProgressCallback progress) override {
    if (request.caFile.empty()) request.caFile = caFile_;
    return inner_->send(std::move(request), std::move(done), std::move(progress));
  }

 private:
  const std::shared_ptr<HttpTransport> inner_;
  const std::filesystem::path caFile_;
};

}  // namespace

std::shared_ptr<HttpTransport> trusting(std::shared_ptr<HttpTransport> inner,
                                        std::filesystem::path caFile) {
  if (caFile.empty()) return inner;
  return std::make_shared<TrustingTransport>(std::move(inner), std::move(caFile));
}

}  // namespace corvenza::http
