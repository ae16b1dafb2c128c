#include "platform/identity/request_signing.h"

#include <utility>

namespace corvenza::identity {

http::PrepareHook makeSigningHook(std::shared_ptr<CredentialsSource> credentials,
                                  SigningSettings settings,
                                  std::shared_ptr<sigv4::ClockSkew> skew) {
  return [credentials = std::move(credentials), settings = std::move(settings), skew](
             http::HttpRequest request,
             std::function<void(detail::Result<http::HttpRequest>)> done) {
    if (!credentials) {
      done(Error("CorvenzaSigningError", 1, std::nullopt,
                 "No credentials provider to sign the request with"));
      return;
    }
    credentials->getCredentials().continueWith(
        [request = std::move(request), done = std::move(done), settings,
         skew](const detail::Result<sigv4::Credentials>& outcome) mutable {
          if (!outcome) {
            done(outcome.error());
            return;
          }
          // Headers of an earlier attempt must not leak into this signature.
          for (const char* name :
               {"Authorization", "X-Amz-Date", "X-Amz-Security-Token", "X-Amz-Content-Sha256"}) {
            http::removeHeader(request.headers, name);
          }
          sigv4::SigningParams params;
          params.region = settings.region;
          params.service = settings.service;
          params.credentials = outcome.value();
          params.time = skew->now();
          params.storageRules = settings.storageRules;
          params.normalizePath = !settings.storageRules;
          params.unsignedPayload = settings.unsignedPayload;
          auto signedRequest = sigv4::signRequest(request, params);
          if (!signedRequest) {
            done(signedRequest.error());
            return;
          }
          done(std::move(request));
        });
  };
}

std::shared_ptr<http::HttpTransport> makeSignedTransport(
    const runtime::Runtime& runtime, std::shared_ptr<CredentialsSource> credentials,
    SigningSettings settings) {
  const auto skew = runtime.skew ? runtime.skew : std::make_shared<sigv4::ClockSkew>();
  http::RetryOptions options;
  options.refusedCredentials = [credentials](const std::string& accessKeyId) {
    if (!credentials) return false;
    credentials->forget(sigv4::Credentials{accessKeyId, {}, {}, {}});
    return true;
  };
  options.prepare = makeSigningHook(std::move(credentials), std::move(settings), skew);
  options.skew = [skew](const http::HttpHeaders& headers) {
    return skew->updateFromHeaders(headers);
  };
  options.scheduler = runtime.retryScheduler;
  return std::make_shared<http::RetryingTransport>(runtime.transport, std::move(options));
}

}  // namespace corvenza::identity
