#pragma once
// Checks a parsed document against the schema before anything runs, the
// way the gateway does: a document with any error is not executed at all.

#include <vector>

#include "gql/ast.h"
#include "gql/graphql_error.h"
#include "gql/schema.h"

namespace corvenza::emulator::gql {

/// Upper bound on the selections visited while expanding fragments, so that
/// fragments spread many times over cannot make a small document expensive.
inline constexpr int kMaxVisitedSelections = 20000;

/// Every validation error of @p document (errorType "ValidationError"):
/// unknown types, fields and arguments, missing required arguments, literal
/// and variable type mismatches, undefined, unused or cyclic fragments,
/// undefined or unused variables, selections on scalars or missing on
/// objects, duplicate or ambiguous operations, unknown directives.
std::vector<GraphQLError> validateDocument(const Schema& schema, const Document& document);

}  // namespace corvenza::emulator::gql
