#include "graphql/selection.h"

#include <utility>

namespace corvenza::graphql {

Selection field(std::string name, FieldKind kind) {
  Selection s;
  s.kind = kind;
  s.name = std::move(name);
  return s;
}

Selection nullableField(std::string name, FieldKind kind) {
  Selection s = field(std::move(name), kind);
  s.nullable = true;
  return s;
}

Selection objectField(std::string name, bool nullable, std::vector<Selection> selections,
                      std::string arguments) {
  Selection s = field(std::move(name), FieldKind::object);
  s.nullable = nullable;
  s.arguments = std::move(arguments);
  s.selections = std::move(selections);
  return s;
}

Selection listField(std::string name, std::vector<Selection> selections) {
  Selection s = objectField(std::move(name), true, std::move(selections));
  s.list = true;
  return s;
}

Selection spread(std::string fragmentName) {
  return field(std::move(fragmentName), FieldKind::spread);
}

Selection typenameField() { return field("__typename", FieldKind::string); }

namespace {

void printSelections(const std::vector<Selection>& selections, int level, std::string& out) {
  const std::string indent(static_cast<std::size_t>(level) * 2, ' ');
  for (const auto& s : selections) {
    out += '\n';
    out += indent;
    if (s.kind == FieldKind::spread) {
      out += "...";
      out += s.name;
      continue;
    }
    out += s.name;
    out += s.arguments;
    if (s.kind == FieldKind::object) {
      out += " {";
      printSelections(s.selections, level + 1, out);
      out += '\n';
      out += indent;
      out += '}';
    }
  }
}

}  // namespace

std::string printDocument(const Document& document) {
  std::string out = document.header + " {";
  printSelections(document.selections, 1, out);
  out += "\n}";
  return out;
}

}  // namespace corvenza::graphql
