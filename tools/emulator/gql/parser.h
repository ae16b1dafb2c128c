#pragma once
// Parses executable GraphQL documents: operations, fragments, selections,
// arguments, variables and directives. Type-system definitions are rejected.

#include <optional>
#include <string_view>
#include <variant>

#include "gql/ast.h"
#include "gql/graphql_error.h"

namespace corvenza::emulator::gql {

/// Deepest nesting of selection sets, lists, objects and types accepted, so
/// that hostile input cannot exhaust the stack.
inline constexpr int kMaxNestingDepth = 64;

/// The document, or one syntax error (errorType "InvalidSyntax") with the
/// location of the offending token. Any input is safe to pass.
std::variant<Document, GraphQLError> parseDocument(std::string_view source);

/// A type reference such as "ID!" or "[Float]"; nothing when @p source is
/// not exactly one type.
std::optional<TypeRef> parseTypeRef(std::string_view source);

}  // namespace corvenza::emulator::gql
