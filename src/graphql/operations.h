#pragma once
// The ten operations: each carries its variables, knows its documents and
// names its response Data. Only requestString and variables reach the wire.

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "core/result.h"
#include "graphql/decode.h"
#include "graphql/documents.h"
#include "graphql/filter_inputs.h"
#include "graphql/inputs.h"
#include "graphql/responses.h"

namespace corvenza::graphql {

enum class OperationType { query, mutation, subscription };

/// Variable name to value; every variable of the operation is a key, one
/// without a value holds nothing.
using Variables = std::map<std::string, std::optional<nlohmann::json>>;

/// The JSON "variables" object: variables without a value are left out.
nlohmann::json variablesJson(const Variables& variables);

/// What every operation class shares, keyed by its name and Data type.
template <OperationName kName, OperationType kType, typename DataType>
struct Operation {
  using Data = DataType;
  static constexpr OperationName name = kName;
  static constexpr OperationType type = kType;

  /// The operation's own document.
  static const std::string& operationString() { return operationDocument(kName).operationString; }
  /// The operation document followed by its fragments: the text sent.
  static const std::string& requestString() { return operationDocument(kName).requestString; }
  /// No persisted queries are used.
  static std::optional<std::string> operationIdentifier() { return std::nullopt; }
  /// Whether the service may receive the operation twice without harm.
  static constexpr bool harmlessTwice = kType != OperationType::mutation;

  /// Checks the response's "data" object against the selection.
  static detail::Result<Data> decode(const nlohmann::json& data) {
    auto snapshot = decodeData(data, kName);
    if (!snapshot) return snapshot.error();
    return Data(std::move(snapshot.value()));
  }
};

struct GetBodysizeEstimationQuery : Operation<OperationName::getBodysizeEstimation,
                                              OperationType::query, GetBodysizeEstimationData> {
  explicit GetBodysizeEstimationQuery(std::string id) : id(std::move(id)) {}
  Variables variables() const { return {{"id", id}}; }
  std::string id;
};

struct ListBodysizeEstimationsQuery : Operation<OperationName::listBodysizeEstimations,
                                                OperationType::query, ListBodysizeEstimationsData> {
  explicit ListBodysizeEstimationsQuery(
      std::optional<TableBodysizeEstimationFilterInput> filter = std::nullopt,
      std::optional<std::int64_t> limit = std::nullopt,
      std::optional<std::string> nextToken = std::nullopt)
      : filter(std::move(filter)), limit(limit), nextToken(std::move(nextToken)) {}
  Variables variables() const;
  std::optional<TableBodysizeEstimationFilterInput> filter;
  std::optional<std::int64_t> limit;
  std::optional<std::string> nextToken;
};

template <OperationName kName, typename DataType, typename Input>
struct InputMutation : Operation<kName, OperationType::mutation, DataType> {
  explicit InputMutation(Input input) : input(std::move(input)) {}
  Variables variables() const { return {{"input", input.toJson()}}; }
  Input input;
};

using CreateBodysizeEstimationMutation =
    InputMutation<OperationName::createBodysizeEstimation, CreateBodysizeEstimationData,
                  CreateBodysizeEstimationInput>;
using UpdateBodysizeEstimationMutation =
    InputMutation<OperationName::updateBodysizeEstimation, UpdateBodysizeEstimationData,
                  UpdateBodysizeEstimationInput>;
using DeleteBodysizeEstimationMutation =
    InputMutation<OperationName::deleteBodysizeEstimation, DeleteBodysizeEstimationData,
                  DeleteBodysizeEstimationInput>;

template <OperationName kName, typename DataType>
struct AttachImageMutation : Operation<kName, OperationType::mutation, DataType> {
  // Attaching the same photo again changes nothing, so the mutation may ride
  // a connection already open (libcurl resends on a stale one unasked).
  static constexpr bool harmlessTwice = true;
  AttachImageMutation(std::string id, S3ObjectInput image)
      : id(std::move(id)), image(std::move(image)) {}
  Variables variables() const { return {{"id", id}, {"image", image.toJson()}}; }
  std::string id;
  S3ObjectInput image;
};

using AttachFrontImageMutation =
    AttachImageMutation<OperationName::attachFrontImage, AttachFrontImageData>;
using AttachSideImageMutation =
    AttachImageMutation<OperationName::attachSideImage, AttachSideImageData>;

template <OperationName kName, typename DataType>
struct UserSubscription : Operation<kName, OperationType::subscription, DataType> {
  explicit UserSubscription(std::string userId) : userId(std::move(userId)) {}
  Variables variables() const { return {{"userId", userId}}; }
  std::string userId;
};

using OnCreateEstimationRequestSubscription =
    UserSubscription<OperationName::onCreateEstimationRequest, OnCreateEstimationRequestData>;
using OnUpdateEstimationRequestSubscription =
    UserSubscription<OperationName::onUpdateEstimationRequest, OnUpdateEstimationRequestData>;
using OnDeleteEstimationRequestSubscription =
    UserSubscription<OperationName::onDeleteEstimationRequest, OnDeleteEstimationRequestData>;

}  // namespace corvenza::graphql
