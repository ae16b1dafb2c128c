#include "gateway/graphql_service.h"

#include "base/bounded_json.h"
#include "estimation/estimation_filter.h"
#include "storage/key_ownership.h"
#include "storage/object_store.h"

namespace corvenza::emulator::gql {
namespace {

using estimation::ChangeKind;
using estimation::EstimationRecord;
using Kind = OperationDefinition::Kind;

// What the gateway says when a conditional write finds no item it may touch:
// the same for a request that does not exist and one of another identity.
ResolverError conditionFailed() {
  return {"The conditional request failed (Service: DynamoDb, Status Code: 400)",
          "DynamoDB:ConditionalCheckFailedException"};
}

// An argument the resolver will not take, with what is wrong with it.
ResolverError refusedInput(std::string message) { return {std::move(message), kValidationError}; }

// Why @p image cannot be one of @p caller's photos, or nothing. Storage lets
// only the caller write under "<caller>/" in the photo bucket, so a photo
// anywhere else is someone else's or no one's.
std::optional<std::string> photoProblem(const estimation::S3Location& image,
                                        const std::string& photoBucket, const std::string& caller) {
  if (image.bucket != photoBucket) {
    return "image.bucket must be the photo bucket \"" + photoBucket + "\"";
  }
  if (!isOwnKey(image.key, caller)) {
    return "image.key must lie under the caller's own prefix \"" + caller + "/\"";
  }
  if (!ObjectStore::validKey(image.key)) return "image.key is not a key object storage can hold";
  return std::nullopt;
}

ResolverError internalError(const Error& error) {
  return {error.localizedDescription(), "InternalFailure"};
}

ResolverOutcome recordOrNull(const detail::Result<std::optional<EstimationRecord>>& result) {
  if (!result) return internalError(result.error());
  if (!*result) return nlohmann::json();
  return estimation::toGraphQL(**result);
}

ResolverOutcome recordOrConditionFailed(
    const detail::Result<std::optional<EstimationRecord>>& result) {
  if (!result) return internalError(result.error());
  if (!*result) return conditionFailed();
  return estimation::toGraphQL(**result);
}

template <typename T>
std::optional<T> optionalField(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  return it->get<T>();
}

const char* subscriptionField(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::Create:
      return "onCreateBodysizeEstimation";
    case ChangeKind::Update:
      return "onUpdateBodysizeEstimation";
    case ChangeKind::Delete:
      return "onDeleteBodysizeEstimation";
  }
  return "";
}

nlohmann::ordered_json singleError(std::string message, std::string errorType) {
  return errorResponse({{std::move(message), std::move(errorType), {}, {}}});
}

}  // namespace

GraphQLService::GraphQLService(estimation::EstimationStore& store,
                               std::function<std::int64_t()> nowSeconds, std::string photoBucket)
    : store_(store),
      nowSeconds_(std::move(nowSeconds)),
      photoBucket_(std::move(photoBucket)),
      executor_(Schema::estimation()) {
  registerResolvers();
}

void GraphQLService::registerResolvers() {
  executor_.setResolver(
      Kind::Query, "getBodysizeEstimation",
      [this](const nlohmann::json& args, const ResolveContext& ctx) {
        return recordOrNull(store_.get(ctx.callerIdentityId, args.at("id").get<std::string>()));
      });
  executor_.setResolver(
      Kind::Query, "listBodysizeEstimations",
      [this](const nlohmann::json& args, const ResolveContext& ctx) -> ResolverOutcome {
        const auto limit = optionalField<int>(args, "limit");
        if (limit && (*limit < 1 || *limit > estimation::EstimationStore::kMaxLimit)) {
          return refusedInput("limit must be between 1 and 100");
        }
        const auto filter = args.value("filter", nlohmann::json());
        std::function<bool(const EstimationRecord&)> predicate;
        if (filter.is_object() && !filter.empty()) {
          predicate = [&filter](const EstimationRecord& record) {
            return estimation::matchesFilter(estimation::toGraphQL(record), filter);
          };
        }
        auto page = store_.list(ctx.callerIdentityId, limit,
                                optionalField<std::string>(args, "nextToken"), predicate);
        if (!page) {
          if (page.error().code() == estimation::kInvalidNextToken) {
            return ResolverError{page.error().localizedDescription(), "BadRequestException"};
          }
          return internalError(page.error());
        }
        nlohmann::json items = nlohmann::json::array();
        for (const auto& record : page->items) items.push_back(estimation::toGraphQL(record));
        return nlohmann::json{
            {"items", std::move(items)},
            {"nextToken", page->nextToken ? nlohmann::json(*page->nextToken) : nlohmann::json()}};
      });
  executor_.setResolver(
      Kind::Mutation, "createBodysizeEstimation",
      [this](const nlohmann::json& args, const ResolveContext& ctx) -> ResolverOutcome {
        const auto& input = args.at("input");
        estimation::CreateInput create;
        create.age = input.at("age").get<int>();
        create.height = input.at("height").get<double>();
        create.weight = input.at("weight").get<double>();
        create.gender = optionalField<std::string>(input, "gender");
        create.failOnAutomaticEstimationFailure =
            optionalField<bool>(input, "failOnAutomaticEstimationFailure");
        auto record = store_.create(ctx.callerIdentityId, create, nowSeconds_());
        if (!record) return internalError(record.error());
        return estimation::toGraphQL(*record);
      });
  executor_.setResolver(
      Kind::Mutation, "updateBodysizeEstimation",
      [this](const nlohmann::json& args, const ResolveContext& ctx) {
        auto changes = args.at("input");
        const auto id = changes.at("id").get<std::string>();
        changes.erase("id");
        return recordOrConditionFailed(store_.update(ctx.callerIdentityId, id, changes));
      });
  executor_.setResolver(
      Kind::Mutation, "deleteBodysizeEstimation",
      [this](const nlohmann::json& args, const ResolveContext& ctx) -> ResolverOutcome {
        const auto& input = args.at("input");
        const auto id = input.at("id").get<std::string>();
        // A given createdAt is a condition: delete only the request created then.
        if (const auto createdAt = optionalField<std::int64_t>(input, "createdAt")) {
          auto current = store_.get(ctx.callerIdentityId, id);
          if (!current) return internalError(current.error());
          if (*current && (*current)->createdAt != *createdAt) return conditionFailed();
        }
        return recordOrConditionFailed(store_.remove(ctx.callerIdentityId, id));
      });
  for (const bool front : {true, false}) {
    executor_.setResolver(
        Kind::Mutation, front ? "attachFrontImage" : "attachSideImage",
        [this, front](const nlohmann::json& args, const ResolveContext& ctx) -> ResolverOutcome {
          const auto& image = args.at("image");
          const estimation::S3Location location{image.at("bucket").get<std::string>(),
                                                image.at("key").get<std::string>(),
                                                image.at("region").get<std::string>()};
          if (auto problem = photoProblem(location, photoBucket_, ctx.callerIdentityId)) {
            return refusedInput(std::move(*problem));
          }
          return recordOrConditionFailed(store_.attachImage(
              ctx.callerIdentityId, args.at("id").get<std::string>(), front, location));
        });
  }
  // Over plain HTTP a subscription has nothing to deliver; the events go
  // through the real-time endpoint.
  for (const auto kind : {ChangeKind::Create, ChangeKind::Update, ChangeKind::Delete}) {
    executor_.setResolver(Kind::Subscription, subscriptionField(kind),
                          [](const nlohmann::json&, const ResolveContext&) -> ResolverOutcome {
                            return nlohmann::json();
                          });
  }
}

std::optional<std::string> GraphQLService::badRequest(std::string_view requestBody) {
  if (!jsonDepthWithin(requestBody)) {
    return "The request body nests deeper than " + std::to_string(kMaxJsonDepth) + " levels.";
  }
  const auto body = parseBoundedJson(requestBody);
  if (body.is_discarded()) return "The request body is not valid JSON.";
  if (!body.is_object()) return "The request body must be a JSON object.";
  const auto query = body.find("query");
  if (query == body.end() || !query->is_string()) return "The request has no query string.";
  const auto variables = body.find("variables");
  if (variables != body.end() && !variables->is_null() && !variables->is_object()) {
    return "The variables must be a JSON object.";
  }
  const auto name = body.find("operationName");
  if (name != body.end() && !name->is_null() && !name->is_string()) {
    return "The operationName must be a string.";
  }
  return std::nullopt;
}

std::string GraphQLService::execute(std::string_view requestBody,
                                    const std::string& callerIdentityId) const {
  if (auto problem = badRequest(requestBody)) {
    return singleError(*problem, "MalformedHttpRequestException").dump();
  }
  const auto body = parseBoundedJson(requestBody);
  std::optional<std::string> operationName;
  if (const auto it = body.find("operationName"); it != body.end() && it->is_string()) {
    operationName = it->get<std::string>();
  }
  const auto variables = body.value("variables", nlohmann::json());
  return executor_
      .execute(body.at("query").get<std::string>(), operationName, variables,
               ResolveContext{callerIdentityId})
      .dump();
}

std::variant<SubscriptionPlan, nlohmann::ordered_json> GraphQLService::prepareSubscription(
    std::string_view requestData, const std::string& callerIdentityId) const {
  if (auto problem = badRequest(requestData)) {
    return singleError(*problem, "MalformedHttpRequestException");
  }
  const auto body = parseBoundedJson(requestData);
  std::optional<std::string> operationName;
  if (const auto it = body.find("operationName"); it != body.end() && it->is_string()) {
    operationName = it->get<std::string>();
  }
  auto prepared = executor_.prepare(body.at("query").get<std::string>(), operationName,
                                    body.value("variables", nlohmann::json()));
  if (auto* response = std::get_if<nlohmann::ordered_json>(&prepared)) return *response;
  SubscriptionPlan plan;
  plan.operation = std::move(std::get<PreparedOperation>(prepared));
  if (plan.operation.operation().kind != Kind::Subscription) {
    return singleError("Only subscriptions are accepted here.", "UnsupportedOperation");
  }
  auto fields = executor_.rootFields(plan.operation);
  if (auto* error = std::get_if<GraphQLError>(&fields)) return errorResponse({*error});
  const auto& calls = std::get<std::vector<RootFieldCall>>(fields);
  if (calls.size() != 1) {
    return singleError("A subscription selects exactly one root field.", kValidationError);
  }
  const auto& call = calls.front();
  for (const auto kind : {ChangeKind::Create, ChangeKind::Update, ChangeKind::Delete}) {
    if (call.fieldName == subscriptionField(kind)) plan.kind = kind;
  }
  plan.fieldName = call.fieldName;
  plan.responseKey = call.responseKey;
  plan.userId = call.arguments.value("userId", "");
  if (plan.userId != callerIdentityId) {
    return errorResponse({{"Not Authorized to access " + call.fieldName + " on type Subscription",
                           kUnauthorized,
                           {},
                           {call.responseKey}}});
  }
  return plan;
}

std::optional<nlohmann::ordered_json> GraphQLService::executeSubscriptionEvent(
    const SubscriptionPlan& plan, ChangeKind kind, const std::string& ownerIdentityId,
    const nlohmann::json& record, const std::string& callerIdentityId) const {
  if (kind != plan.kind || ownerIdentityId != callerIdentityId || ownerIdentityId != plan.userId) {
    return std::nullopt;
  }
  return executor_.run(plan.operation, ResolveContext{callerIdentityId}, &record);
}

}  // namespace corvenza::emulator::gql
