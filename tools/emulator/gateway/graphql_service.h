#pragma once
// The estimation GraphQL API without its transport: requests in, response
// JSON out, every request scoped to the caller's identity. The HTTP adapter
// and the real-time service sit on top of it.

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "estimation/estimation_store.h"
#include "gql/executor.h"

namespace corvenza::emulator::gql {

/// A running subscription: the prepared operation and what it listens for.
struct SubscriptionPlan {
  PreparedOperation operation;
  estimation::ChangeKind kind = estimation::ChangeKind::Create;
  /// The root field's name, response key and "userId" argument.
  std::string fieldName;
  std::string responseKey;
  std::string userId;
};

class GraphQLService {
 public:
  /// @p store must outlive the service. @p nowSeconds gives creation times
  /// (seconds since the epoch). The attach mutations take only photos in
  /// @p photoBucket under the caller's own "<identity id>/" prefix.
  GraphQLService(estimation::EstimationStore& store, std::function<std::int64_t()> nowSeconds,
                 std::string photoBucket);

  /// Runs the request @p requestBody ({"query", "variables", "operationName"})
  /// for @p callerIdentityId and returns the response JSON text
  /// ({"data", "errors"}). A body that is not such an object yields an error
  /// response too; badRequest() tells the HTTP layer when to answer 400.
  /// Thread-safe.
  std::string execute(std::string_view requestBody, const std::string& callerIdentityId) const;

  /// Why @p requestBody cannot be a GraphQL request (not JSON, no "query"
  /// string, ...), or nothing when it can.
  static std::optional<std::string> badRequest(std::string_view requestBody);

  /// Checks a subscription request ({"query", "variables"} as the real-time
  /// "start" message carries it) for @p callerIdentityId: it must be one of
  /// the three subscriptions and its userId must be the caller's own
  /// (otherwise an "Unauthorized" error). Returns the plan or an error
  /// response (JSON) to send back.
  std::variant<SubscriptionPlan, nlohmann::ordered_json> prepareSubscription(
      std::string_view requestData, const std::string& callerIdentityId) const;

  /// The data message for one change event, or nothing when @p plan does not
  /// listen for it: another kind, or a request that @p ownerIdentityId owns
  /// but the plan's subscriber does not. @p record is the request's GraphQL
  /// form as the store's listener receives it.
  std::optional<nlohmann::ordered_json> executeSubscriptionEvent(
      const SubscriptionPlan& plan, estimation::ChangeKind kind, const std::string& ownerIdentityId,
      const nlohmann::json& record, const std::string& callerIdentityId) const;

  const Executor& executor() const { return executor_; }

 private:
  void registerResolvers();

  estimation::EstimationStore& store_;
  std::function<std::int64_t()> nowSeconds_;
  const std::string photoBucket_;
  Executor executor_;
};

}  // namespace corvenza::emulator::gql
