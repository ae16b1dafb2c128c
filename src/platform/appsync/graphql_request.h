#pragma once
// The generic request and result the GraphQL client works on. Typed operations
// (documents, inputs, snapshots) are built on top of these elsewhere.

#include <corvenza/error.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/appsync/object_manager.h"

namespace corvenza::appsync {

/// One GraphQL operation as it goes on the wire.
struct GraphQLRequest {
  /// The operation document, sent byte for byte.
  std::string query;
  /// The variables object; absent variables are left out of the body.
  std::optional<nlohmann::json> variables;
  /// Sent as "operationName" when present.
  std::optional<std::string> operationName;
  /// Files a mutation's variables name, uploaded (in order) before it is
  /// sent; the typed operation that holds them says which they are.
  std::vector<S3UploadDescription> uploads = {};
  /// Hears the bytes of those uploads.
  UploadProgress uploadProgress = {};
  /// A mutation the service may receive twice without harm: it may ride a
  /// connection already open and is retried like a query. Every other
  /// mutation gets a connection of its own and is never sent again.
  bool harmlessTwice = false;
};

/// What the service answered.
struct GraphQLResult {
  /// The "data" member; absent when the response had none or it was null.
  std::optional<nlohmann::json> data;
  /// Present (possibly empty) exactly when the response had an "errors" member.
  std::optional<std::vector<Error>> errors;
};

enum class CachePolicy {
  /// Always asks the service; the answer is written to the cache.
  fetchIgnoringCacheData,
  /// Answers from the cache only and never asks the service. A miss is a
  /// result with neither data nor errors.
  returnCacheDataDontFetch,
};

/// Receives either a result or a transport error (never both, never neither).
using ResultHandler =
    std::function<void(std::optional<GraphQLResult> result, std::optional<Error> error)>;

}  // namespace corvenza::appsync
