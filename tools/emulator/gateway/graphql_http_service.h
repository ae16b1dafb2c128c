#pragma once
// The gateway's HTTP face at /graphql: checks the SigV4 signature (service
// "appsync") against the credentials the identity service issued, takes the
// caller's identity from them and hands the body to the GraphQL service.

#include <memory>

#include "base/service.h"
#include "context/emulator_context.h"
#include "gateway/graphql_service.h"

namespace corvenza::emulator::gql {

class GraphQLHttpService : public Service {
 public:
  /// @p context and @p service must outlive this object.
  GraphQLHttpService(EmulatorContext& context, const GraphQLService& service)
      : context_(context), service_(service) {}

  std::string_view name() const override { return "graphql"; }

  /// 200 with the GraphQL response (also when resolvers fail); 401
  /// UnauthorizedException for missing, unknown or expired credentials; 403
  /// InvalidSignatureException when the signature does not hold; 400 for a
  /// body that is no GraphQL request; 404/405 for other paths and methods.
  Response handle(const Request& request) override;

 private:
  EmulatorContext& context_;
  const GraphQLService& service_;
};

/// The gateway's error body {"errors": [{"errorType", "message"}]} with the
/// x-amzn-ErrorType header.
Response gatewayError(int status, std::string_view errorType, std::string_view message);

}  // namespace corvenza::emulator::gql
