#pragma once
// A GraphQL document as data: the same tree prints the text sent to the
// service and tells the decoder which fields and types a response must have.

#include <string>
#include <vector>

namespace corvenza::graphql {

enum class FieldKind {
  string,
  id,
  integer,
  floating,
  boolean,
  gender,  // enum fields travel as their raw text
  status,
  object,
  spread,  // "...Name": the fields of a fragment merged into this level
};

struct Selection {
  FieldKind kind = FieldKind::string;
  std::string name;       // field name, or the fragment name of a spread
  std::string arguments;  // printed right after the name, e.g. "(id: $id)"
  bool nullable = false;
  bool list = false;  // a list of objects; elements may be null
  std::vector<Selection> selections;
};

struct Document {
  std::string header;  // first line without the trailing " {"
  std::vector<Selection> selections;
};

Selection field(std::string name, FieldKind kind);
Selection nullableField(std::string name, FieldKind kind);
Selection objectField(std::string name, bool nullable, std::vector<Selection> selections,
                      std::string arguments = {});
Selection listField(std::string name, std::vector<Selection> selections);
Selection spread(std::string fragmentName);
Selection typenameField();

// Header line, one line per selection indented two spaces per level, nested
// blocks closed at their own level, a final "}" with no line feed after it.
std::string printDocument(const Document& document);

}  // namespace corvenza::graphql
