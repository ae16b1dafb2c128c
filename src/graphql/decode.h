#pragma once
// Turns the "data" object of a GraphQL response into a Snapshot, checked
// against the operation's selection: every selected non-null field must be
// present with the right type. Fields the selection does not name are
// ignored; a nullable field that is missing is stored as null.

#include <nlohmann/json_fwd.hpp>

#include "core/result.h"
#include "graphql/documents.h"
#include "graphql/snapshot.h"

namespace corvenza::graphql {

inline constexpr const char* kDecodingErrorDomain = "CorvenzaGraphQLDecodingError";

enum class DecodingErrorCode {
  notAnObject = 1,   // "data" (or a nested object) is not a JSON object
  missingField = 2,  // a non-null field is missing or null
  wrongType = 3,     // a field holds a value of another JSON type
};

/// The decoding error's user information has "path": the dotted field path.
detail::Result<Snapshot> decodeData(const nlohmann::json& data, OperationName operation);

/// Decodes one object against @p selections; @p path names it in errors.
detail::Result<Snapshot> decodeObject(const nlohmann::json& object,
                                      const std::vector<Selection>& selections,
                                      const std::string& path);

}  // namespace corvenza::graphql
