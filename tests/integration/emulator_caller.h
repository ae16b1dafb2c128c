#pragma once
// A signed-in caller of an emulator process over plain HTTP: a token traded
// for temporary credentials, then SigV4-signed GraphQL and storage requests.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "emulator_http_client.h"
#include "platform/http/http_types.h"
#include "platform/sigv4/signer.h"
#include "testkit/emulator_process.h"

namespace corvenza::test {

struct EmulatorCaller {
  std::string identityId;
  sigv4::Credentials credentials;
};

inline EmulatorCaller signInToEmulator(const EmulatorProcess& emulator, const std::string& userId) {
  using nlohmann::json;
  const auto token = plainRequest("POST", emulator.endpoint("auth") + "/token",
                                  {"x-api-key: " + emulator.endpoint("api_key")},
                                  json{{"user_id", userId}, {"token_duration", 900}}.dump());
  const auto issuedToken = json::parse(token.body, nullptr, false)["content"]["token"];
  EmulatorCaller caller;
  caller.identityId = issuedToken.value("identity_id", "");
  const json body = {
      {"IdentityId", caller.identityId},
      {"Logins", {{"cognito-identity.amazonaws.com", issuedToken.value("jwt_token", "")}}}};
  const auto response =
      plainRequest("POST", emulator.endpoint("identity"),
                   {"Content-Type: application/x-amz-json-1.1",
                    "X-Amz-Target: AWSCognitoIdentityService.GetCredentialsForIdentity"},
                   body.dump());
  const auto issued = json::parse(response.body, nullptr, false)["Credentials"];
  if (issued.is_object()) {
    caller.credentials = {issued.value("AccessKeyId", ""), issued.value("SecretKey", ""),
                          issued.value("SessionToken", ""), std::nullopt};
  }
  return caller;
}

/// Sends @p request signed for @p service as @p caller.
inline PlainResponse sendSigned(const EmulatorProcess& emulator, const EmulatorCaller& caller,
                                http::HttpRequest request, const std::string& service,
                                long timeoutMs = 30'000) {
  sigv4::SigningParams params;
  params.region = emulator.endpoint("region");
  params.service = service;
  params.credentials = caller.credentials;
  params.time = std::chrono::system_clock::now();
  params.storageRules = service == "s3";
  if (!sigv4::signRequest(request, params)) return {};
  std::vector<std::string> headers;
  for (const auto& [name, value] : request.headers) headers.push_back(name + ": " + value);
  return plainRequest(request.method, request.url, headers, request.body, timeoutMs);
}

/// A signed GraphQL request ({"query", "variables"}).
inline PlainResponse signedGraphQL(const EmulatorProcess& emulator, const EmulatorCaller& caller,
                                   const std::string& query, const nlohmann::json& variables,
                                   long timeoutMs = 30'000) {
  http::HttpRequest request;
  request.method = "POST";
  request.url = emulator.endpoint("graphql");
  request.body = nlohmann::json{{"query", query}, {"variables", variables}}.dump();
  http::setHeader(request.headers, "content-type", "application/json");
  return sendSigned(emulator, caller, std::move(request), "appsync", timeoutMs);
}

}  // namespace corvenza::test
