#pragma once
// The root fields a GraphQL request would run, read without running or
// validating it: fault injection names requests by them.

#include <string>
#include <string_view>
#include <vector>

namespace corvenza::emulator::gql {

/// The names of the root fields in the operation that @p requestBody
/// ({"query", "operationName", ...}) selects, fragments included; empty when
/// the body is no request or picks no single operation.
std::vector<std::string> rootFieldNames(std::string_view requestBody);

}  // namespace corvenza::emulator::gql
