#pragma once
// Splits GraphQL source text into tokens. Never throws and never reads past
// the end, whatever the input: a malformed token becomes an Error token.

#include <cstddef>
#include <string>
#include <string_view>

#include "gql/ast.h"

namespace corvenza::emulator::gql {

struct Token {
  enum class Kind { End, Punctuator, Name, Int, Float, String, Error };
  Kind kind = Kind::End;
  /// Punctuator: its characters; Name, Int, Float: the source text; String:
  /// the decoded value; Error: what is wrong.
  std::string text;
  Location location;
};

class Lexer {
 public:
  explicit Lexer(std::string_view source) : source_(source) {}

  /// The next token; End forever once the source is exhausted.
  Token next();

 private:
  void skipIgnored();
  Token readNumber(Location at);
  Token readString(Location at);
  Token readBlockString(Location at);
  Token error(Location at, std::string message) const;
  Location here() const { return {line_, static_cast<int>(pos_ - lineStart_) + 1}; }
  char peek(std::size_t ahead = 0) const {
    return pos_ + ahead < source_.size() ? source_[pos_ + ahead] : '\0';
  }
  bool atEnd() const { return pos_ >= source_.size(); }

  std::string_view source_;
  std::size_t pos_ = 0;
  std::size_t lineStart_ = 0;
  int line_ = 1;
};

}  // namespace corvenza::emulator::gql
