#pragma once
// Runs validated operations: coerces variables, calls the root resolvers and
// shapes their JSON results by the selection set, producing the response
// {"data": ..., "errors": [...]}. Knows nothing of HTTP or of estimations.

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "gql/ast.h"
#include "gql/graphql_error.h"
#include "gql/schema.h"

namespace corvenza::emulator::gql {

/// Who runs an operation; handed to every resolver.
struct ResolveContext {
  std::string callerIdentityId;
};

/// A resolver's failure: becomes an error at the field's path, the field null.
struct ResolverError {
  std::string message;
  std::string errorType;
};

/// A root field's value (objects as JSON objects keyed by field name) or its failure.
using ResolverOutcome = std::variant<nlohmann::json, ResolverError>;

/// Resolves one root field from its coerced arguments (absent optional
/// arguments are missing keys). Called on the thread that runs execute().
using RootResolver =
    std::function<ResolverOutcome(const nlohmann::json& arguments, const ResolveContext& context)>;

/// A parsed, validated operation with coerced variables, ready to run once or
/// (for subscriptions) once per event.
struct PreparedOperation {
  Document document;
  std::size_t operationIndex = 0;
  nlohmann::json variables;

  const OperationDefinition& operation() const { return document.operations[operationIndex]; }
};

/// The root field a subscription selects, with its coerced arguments.
struct RootFieldCall {
  std::string fieldName;
  std::string responseKey;
  nlohmann::json arguments;
};

class Executor {
 public:
  explicit Executor(const Schema& schema) : schema_(schema) {}

  /// Registers the resolver of root field @p field of @p kind's root type.
  /// Not thread-safe; register everything before the first execute().
  void setResolver(OperationDefinition::Kind kind, std::string field, RootResolver resolver);

  /// Parses @p query, picks the operation (by @p operationName, or the only
  /// one), validates, coerces @p variables (an object or null). Either the
  /// prepared operation or a complete error response with "data" null.
  std::variant<PreparedOperation, nlohmann::ordered_json> prepare(
      std::string_view query, const std::optional<std::string>& operationName,
      const nlohmann::json& variables) const;

  /// Runs @p prepared. With @p presetRootValue every root field takes that
  /// value instead of calling its resolver (subscription events).
  nlohmann::ordered_json run(const PreparedOperation& prepared, const ResolveContext& context,
                             const nlohmann::json* presetRootValue = nullptr) const;

  /// prepare() then run(): the whole response for one request.
  nlohmann::ordered_json execute(std::string_view query,
                                 const std::optional<std::string>& operationName,
                                 const nlohmann::json& variables,
                                 const ResolveContext& context) const;

  /// The root fields @p prepared selects (after @skip/@include), with their
  /// arguments coerced; errors when an argument cannot be coerced.
  std::variant<std::vector<RootFieldCall>, GraphQLError> rootFields(
      const PreparedOperation& prepared) const;

  const Schema& schema() const { return schema_; }

 private:
  const Schema& schema_;
  std::map<std::pair<OperationDefinition::Kind, std::string>, RootResolver> resolvers_;
};

/// {"data": null, "errors": [...]} for errors raised before execution.
nlohmann::ordered_json errorResponse(const std::vector<GraphQLError>& errors);

}  // namespace corvenza::emulator::gql
