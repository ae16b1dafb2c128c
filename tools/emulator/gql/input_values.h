#pragma once
// Turns variable values (JSON) and argument literals into the JSON values
// resolvers see, checking them against their declared input types. A key
// absent from an input object stays absent; an explicit null stays null, so
// resolvers can tell "leave unchanged" from "clear".

#include <nlohmann/json.hpp>
#include <string>

#include "gql/ast.h"
#include "gql/schema.h"

namespace corvenza::emulator::gql {

/// Coerces the JSON value @p in to @p type into @p out. On failure returns
/// false and describes the problem in @p error (naming the offending field).
bool coerceJsonValue(const Schema& schema, const TypeRef& type, const nlohmann::json& in,
                     nlohmann::json& out, std::string& error);

/// Coerces the literal @p literal (which may reference variables) to @p type.
/// @p variables are the already coerced variable values; a variable that is
/// absent from them makes the value absent: @p present becomes false.
bool coerceLiteral(const Schema& schema, const TypeRef& type, const Value& literal,
                   const nlohmann::json& variables, nlohmann::json& out, bool& present,
                   std::string& error);

/// Why @p literal cannot be a @p type (variables are checked elsewhere), or
/// empty when it can.
std::string literalError(const Schema& schema, const TypeRef& type, const Value& literal);

}  // namespace corvenza::emulator::gql
