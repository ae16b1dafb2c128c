#include "gql/root_fields.h"

#include <algorithm>

#include "base/bounded_json.h"
#include "gql/parser.h"

namespace corvenza::emulator::gql {
namespace {

// Each fragment is read once, which also stops cycles; the budget bounds
// the rest.
void collect(const Document& document, const std::vector<Selection>& selections,
             std::vector<std::string>& out, std::vector<std::string>& seenFragments, int& budget) {
  for (const auto& selection : selections) {
    if (--budget < 0) return;
    switch (selection.kind) {
      case Selection::Kind::Field:
        if (std::find(out.begin(), out.end(), selection.name) == out.end()) {
          out.push_back(selection.name);
        }
        break;
      case Selection::Kind::InlineFragment:
        collect(document, selection.selections, out, seenFragments, budget);
        break;
      case Selection::Kind::FragmentSpread:
        if (std::find(seenFragments.begin(), seenFragments.end(), selection.name) !=
            seenFragments.end()) {
          break;
        }
        seenFragments.push_back(selection.name);
        if (const auto* fragment = document.findFragment(selection.name)) {
          collect(document, fragment->selections, out, seenFragments, budget);
        }
        break;
    }
  }
}

}  // namespace

std::vector<std::string> rootFieldNames(std::string_view requestBody) {
  const auto body = parseBoundedJson(requestBody);
  if (!body.is_object() || !body.contains("query") || !body["query"].is_string()) return {};
  const auto parsed = parseDocument(body["query"].get<std::string>());
  const auto* document = std::get_if<Document>(&parsed);
  if (!document) return {};
  const auto name = body.find("operationName");
  const OperationDefinition* chosen = nullptr;
  if (name != body.end() && name->is_string() && !name->get<std::string>().empty()) {
    for (const auto& operation : document->operations) {
      if (operation.name == name->get<std::string>()) chosen = &operation;
    }
  } else if (document->operations.size() == 1) {
    chosen = &document->operations.front();
  }
  if (!chosen) return {};
  std::vector<std::string> fields;
  std::vector<std::string> seenFragments;
  int budget = 1000;
  collect(*document, chosen->selections, fields, seenFragments, budget);
  return fields;
}

}  // namespace corvenza::emulator::gql
