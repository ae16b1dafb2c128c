#include "gql/parser.h"

#include "gql/lexer.h"

namespace corvenza::emulator::gql {
namespace {

// Thrown and caught inside this file only: unwinding is the simplest way out
// of a deep recursive descent.
struct SyntaxError {
  std::string message;
  Location location;
};

class Parser {
 public:
  explicit Parser(std::string_view source) : lexer_(source) { advance(); }

  Document document() {
    Document doc;
    if (token_.kind == Token::Kind::End) fail("Unexpected <EOF>, expected a definition");
    while (token_.kind != Token::Kind::End) {
      if (isPunctuator("{")) {
        OperationDefinition op;
        op.location = token_.location;
        op.selections = selectionSet(0);
        doc.operations.push_back(std::move(op));
      } else if (token_.kind == Token::Kind::Name && token_.text == "fragment") {
        doc.fragments.push_back(fragmentDefinition());
      } else if (token_.kind == Token::Kind::Name &&
                 (token_.text == "query" || token_.text == "mutation" ||
                  token_.text == "subscription")) {
        doc.operations.push_back(operationDefinition());
      } else {
        unexpected("a definition");
      }
    }
    return doc;
  }

  TypeRef typeOnly() {
    auto type = typeRef(0);
    if (token_.kind != Token::Kind::End) unexpected("<EOF>");
    return type;
  }

 private:
  void advance() {
    token_ = lexer_.next();
    if (token_.kind == Token::Kind::Error) throw SyntaxError{token_.text, token_.location};
  }

  [[noreturn]] void fail(std::string message) const {
    throw SyntaxError{std::move(message), token_.location};
  }

  [[noreturn]] void unexpected(std::string_view expected) const {
    std::string found;
    switch (token_.kind) {
      case Token::Kind::End:
        found = "<EOF>";
        break;
      case Token::Kind::String:
        found = "string";
        break;
      default:
        found = "'" + token_.text + "'";
        break;
    }
    fail("Unexpected " + found + ", expected " + std::string(expected));
  }

  bool isPunctuator(std::string_view p) const {
    return token_.kind == Token::Kind::Punctuator && token_.text == p;
  }

  void expect(std::string_view p) {
    if (!isPunctuator(p)) unexpected("'" + std::string(p) + "'");
    advance();
  }

  std::string name() {
    if (token_.kind != Token::Kind::Name) unexpected("a name");
    auto text = std::move(token_.text);
    advance();
    return text;
  }

  void checkDepth(int depth) const {
    if (depth > kMaxNestingDepth) fail("Document nested too deeply");
  }

  OperationDefinition operationDefinition() {
    OperationDefinition op;
    op.location = token_.location;
    const auto keyword = name();
    op.kind = keyword == "query"      ? OperationDefinition::Kind::Query
              : keyword == "mutation" ? OperationDefinition::Kind::Mutation
                                      : OperationDefinition::Kind::Subscription;
    if (token_.kind == Token::Kind::Name) op.name = name();
    if (isPunctuator("(")) {
      advance();
      do {
        op.variables.push_back(variableDefinition());
      } while (!isPunctuator(")"));
      advance();
    }
    op.directives = directives(0);
    op.selections = selectionSet(0);
    return op;
  }

  VariableDefinition variableDefinition() {
    VariableDefinition def;
    def.location = token_.location;
    expect("$");
    def.name = name();
    expect(":");
    def.type = typeRef(0);
    if (isPunctuator("=")) {
      advance();
      def.hasDefault = true;
      def.defaultValue = value(true, 0);
    }
    if (isPunctuator("@")) directives(0);  // variable directives carry no meaning here
    return def;
  }

  TypeRef typeRef(int depth) {
    checkDepth(depth);
    TypeRef type;
    if (isPunctuator("[")) {
      advance();
      type = TypeRef::list(typeRef(depth + 1));
      expect("]");
    } else {
      type = TypeRef::named(name());
    }
    if (isPunctuator("!")) {
      advance();
      type = TypeRef::nonNull(std::move(type));
    }
    return type;
  }

  FragmentDefinition fragmentDefinition() {
    FragmentDefinition fragment;
    fragment.location = token_.location;
    advance();  // "fragment"
    if (token_.kind == Token::Kind::Name && token_.text == "on") unexpected("a fragment name");
    fragment.name = name();
    if (token_.kind != Token::Kind::Name || token_.text != "on") unexpected("'on'");
    advance();
    fragment.typeCondition = name();
    fragment.directives = directives(0);
    fragment.selections = selectionSet(0);
    return fragment;
  }

  std::vector<Selection> selectionSet(int depth) {
    checkDepth(depth);
    expect("{");
    std::vector<Selection> selections;
    do {
      selections.push_back(selection(depth));
    } while (!isPunctuator("}"));
    advance();
    return selections;
  }

  Selection selection(int depth) {
    Selection sel;
    sel.location = token_.location;
    if (isPunctuator("...")) {
      advance();
      if (token_.kind == Token::Kind::Name && token_.text != "on") {
        sel.kind = Selection::Kind::FragmentSpread;
        sel.name = name();
        sel.directives = directives(depth);
        return sel;
      }
      sel.kind = Selection::Kind::InlineFragment;
      if (token_.kind == Token::Kind::Name) {  // "on"
        advance();
        sel.typeCondition = name();
      }
      sel.directives = directives(depth);
      sel.selections = selectionSet(depth + 1);
      return sel;
    }
    sel.kind = Selection::Kind::Field;
    sel.name = name();
    if (isPunctuator(":")) {
      advance();
      sel.alias = std::move(sel.name);
      sel.name = name();
    }
    if (isPunctuator("(")) sel.arguments = arguments(false, depth);
    sel.directives = directives(depth);
    if (isPunctuator("{")) sel.selections = selectionSet(depth + 1);
    return sel;
  }

  std::vector<Argument> arguments(bool constant, int depth) {
    expect("(");
    std::vector<Argument> args;
    do {
      Argument arg;
      arg.location = token_.location;
      arg.name = name();
      expect(":");
      arg.value = value(constant, depth);
      args.push_back(std::move(arg));
    } while (!isPunctuator(")"));
    advance();
    return args;
  }

  std::vector<Directive> directives(int depth) {
    std::vector<Directive> result;
    while (isPunctuator("@")) {
      Directive directive;
      directive.location = token_.location;
      advance();
      directive.name = name();
      if (isPunctuator("(")) directive.arguments = arguments(false, depth);
      result.push_back(std::move(directive));
    }
    return result;
  }

  Value value(bool constant, int depth) {
    checkDepth(depth);
    Value v;
    v.location = token_.location;
    switch (token_.kind) {
      case Token::Kind::Int:
        v.kind = Value::Kind::Int;
        v.text = std::move(token_.text);
        advance();
        return v;
      case Token::Kind::Float:
        v.kind = Value::Kind::Float;
        v.text = std::move(token_.text);
        advance();
        return v;
      case Token::Kind::String:
        v.kind = Value::Kind::String;
        v.text = std::move(token_.text);
        advance();
        return v;
      case Token::Kind::Name:
        if (token_.text == "true" || token_.text == "false") {
          v.kind = Value::Kind::Boolean;
          v.boolean = token_.text == "true";
        } else if (token_.text == "null") {
          v.kind = Value::Kind::Null;
        } else {
          v.kind = Value::Kind::Enum;
          v.text = std::move(token_.text);
        }
        advance();
        return v;
      default:
        break;
    }
    if (isPunctuator("$")) {
      if (constant) fail("Unexpected variable in a constant value");
      advance();
      v.kind = Value::Kind::Variable;
      v.text = name();
      return v;
    }
    if (isPunctuator("[")) {
      advance();
      v.kind = Value::Kind::List;
      while (!isPunctuator("]")) v.items.push_back(value(constant, depth + 1));
      advance();
      return v;
    }
    if (isPunctuator("{")) {
      advance();
      v.kind = Value::Kind::Object;
      while (!isPunctuator("}")) {
        auto fieldName = name();
        expect(":");
        v.fields.emplace_back(std::move(fieldName), value(constant, depth + 1));
      }
      advance();
      return v;
    }
    unexpected("a value");
  }

  Lexer lexer_;
  Token token_;
};

}  // namespace

std::string TypeRef::toString() const {
  switch (kind) {
    case Kind::Named:
      return name;
    case Kind::List:
      return "[" + of->toString() + "]";
    case Kind::NonNull:
      return of->toString() + "!";
  }
  return name;
}

std::variant<Document, GraphQLError> parseDocument(std::string_view source) {
  try {
    Parser parser(source);
    return parser.document();
  } catch (const SyntaxError& e) {
    return GraphQLError{"Syntax Error: " + e.message, kParseError, {e.location}, {}};
  }
}

std::optional<TypeRef> parseTypeRef(std::string_view source) {
  try {
    Parser parser(source);
    return parser.typeOnly();
  } catch (const SyntaxError&) {
    return std::nullopt;
  }
}

}  // namespace corvenza::emulator::gql
