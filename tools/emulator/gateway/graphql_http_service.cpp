#include "gateway/graphql_http_service.h"

#include <nlohmann/json.hpp>

#include "base/log.h"
#include "base/random.h"
#include "sigv4_verifier.h"

namespace corvenza::emulator::gql {
namespace {

Response withRequestId(Response response) {
  response.headers.emplace_back("x-amzn-RequestId", randomUuid());
  return response;
}

}  // namespace

Response gatewayError(int status, std::string_view errorType, std::string_view message) {
  auto response = jsonResponse(
      status,
      {{"errors", nlohmann::json::array({{{"errorType", errorType}, {"message", message}}})}});
  response.headers.emplace_back("x-amzn-ErrorType", std::string(errorType));
  return withRequestId(std::move(response));
}

Response GraphQLHttpService::handle(const Request& request) {
  if (request.subpath != "" && request.subpath != "/") {
    return gatewayError(404, "NotFoundException", "No such resource.");
  }
  if (request.method != "POST") {
    return gatewayError(405, "MethodNotAllowedException", "Only POST is supported.");
  }

  sigv4::VerifierOptions options;
  options.service = "appsync";
  options.lookup = [this](std::string_view accessKeyId) {
    return context_.credentials.signingCredentials(accessKeyId);
  };
  const sigv4::ReceivedRequest received{request.method, request.target, request.headers,
                                        request.body, std::nullopt};
  const auto now = context_.clock.now();
  const auto verification = sigv4::verifyRequest(received, options, now);
  switch (verification.status) {
    case sigv4::VerificationStatus::verified:
      break;
    case sigv4::VerificationStatus::missingAuthentication:
      return gatewayError(401, "UnauthorizedException", "Valid authorization header not provided.");
    case sigv4::VerificationStatus::unknownAccessKey:
    case sigv4::VerificationStatus::invalidSessionToken:
      return gatewayError(401, "UnauthorizedException",
                          "The security token included in the request is invalid.");
    default:
      return gatewayError(403, "InvalidSignatureException", verification.message);
  }
  // The signature holds; the credentials must also still be valid.
  auto issued =
      context_.credentials.validate(verification.accessKeyId, verification.sessionToken, now);
  if (!issued) {
    return gatewayError(401, "UnauthorizedException",
                        issued.error().code() == kCredentialsExpired
                            ? "The security token included in the request is expired."
                            : "The security token included in the request is invalid.");
  }
  if (auto problem = GraphQLService::badRequest(request.body)) {
    return gatewayError(400, "MalformedHttpRequestException", *problem);
  }
  Response response;
  response.status = 200;
  response.headers.emplace_back("Content-Type", "application/json; charset=UTF-8");
  response.body = service_.execute(request.body, issued->identityId);
  return withRequestId(std::move(response));
}

}  // namespace corvenza::emulator::gql
