#pragma once
// A GraphQL error as the gateway reports it in the response's "errors" array.

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <variant>
#include <vector>

#include "gql/ast.h"

namespace corvenza::emulator::gql {

/// One step of a response path: a response key or a list index.
using PathSegment = std::variant<std::string, int>;
using Path = std::vector<PathSegment>;

inline constexpr const char* kValidationError = "ValidationError";
inline constexpr const char* kParseError = "InvalidSyntax";
inline constexpr const char* kUnauthorized = "Unauthorized";
inline constexpr const char* kBadRequest = "BadRequestException";

struct GraphQLError {
  std::string message;
  std::string errorType;
  std::vector<Location> locations;
  /// Empty for errors raised before execution (syntax, validation).
  Path path;
};

/// {"message", "errorType", "locations", "path"}; "path" is null before execution.
nlohmann::ordered_json toJson(const GraphQLError& error);

}  // namespace corvenza::emulator::gql
