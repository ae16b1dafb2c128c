#include "gql/lexer.h"

#include <cctype>
#include <vector>

namespace corvenza::emulator::gql {
namespace {

bool isNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isNameContinue(char c) {
  return isNameStart(c) || std::isdigit(static_cast<unsigned char>(c));
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Common indentation removal and blank first/last line trimming of block strings.
std::string dedentBlock(const std::string& raw) {
  std::vector<std::string> lines;
  std::string current;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' || raw[i] == '\n') {
      if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
      lines.push_back(current);
      current.clear();
    } else {
      current += raw[i];
    }
  }
  lines.push_back(current);
  std::size_t common = std::string::npos;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::size_t indent = 0;
    while (indent < lines[i].size() && isBlank(lines[i][indent])) ++indent;
    if (indent < lines[i].size() && indent < common) common = indent;
  }
  if (common != std::string::npos) {
    for (std::size_t i = 1; i < lines.size(); ++i) {
      lines[i].erase(0, std::min(common, lines[i].size()));
    }
  }
  auto blankLine = [](const std::string& line) {
    for (char c : line) {
      if (!isBlank(c)) return false;
    }
    return true;
  };
  while (!lines.empty() && blankLine(lines.front())) lines.erase(lines.begin());
  while (!lines.empty() && blankLine(lines.back())) lines.pop_back();
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) out += '\n';
    out += lines[i];
  }
  return out;
}

}  // namespace

Token Lexer::error(Location at, std::string message) const {
  return {Token::Kind::Error, std::move(message), at};
}

void Lexer::skipIgnored() {
  while (!atEnd()) {
    const char c = peek();
    if (c == '\n') {
      ++pos_;
      ++line_;
      lineStart_ = pos_;
    } else if (c == '\r') {
      ++pos_;
      if (peek() == '\n') ++pos_;
      ++line_;
      lineStart_ = pos_;
    } else if (c == ' ' || c == '\t' || c == ',') {
      ++pos_;
    } else if (c == '\xEF' && peek(1) == '\xBB' && peek(2) == '\xBF') {
      pos_ += 3;  // byte order mark
    } else if (c == '#') {
      while (!atEnd() && peek() != '\n' && peek() != '\r') ++pos_;
    } else {
      return;
    }
  }
}

Token Lexer::next() {
  skipIgnored();
  const Location at = here();
  if (atEnd()) return {Token::Kind::End, {}, at};
  const char c = peek();
  if (c == '.') {
    if (peek(1) == '.' && peek(2) == '.') {
      pos_ += 3;
      return {Token::Kind::Punctuator, "...", at};
    }
    return error(at, "Unexpected character '.'");
  }
  static constexpr std::string_view kPunctuators = "!$&():=@[]{}|";
  if (kPunctuators.find(c) != std::string_view::npos) {
    ++pos_;
    return {Token::Kind::Punctuator, std::string(1, c), at};
  }
  if (isNameStart(c)) {
    const auto start = pos_;
    while (!atEnd() && isNameContinue(peek())) ++pos_;
    return {Token::Kind::Name, std::string(source_.substr(start, pos_ - start)), at};
  }
  if (c == '-' || isDigit(c)) return readNumber(at);
  if (c == '"') {
    if (peek(1) == '"' && peek(2) == '"') return readBlockString(at);
    return readString(at);
  }
  ++pos_;
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x20 && byte < 0x7F) {
    return error(at, std::string("Unexpected character '") + c + "'");
  }
  return error(at, "Unexpected character");
}

Token Lexer::readNumber(Location at) {
  const auto start = pos_;
  bool isFloat = false;
  if (peek() == '-') ++pos_;
  if (peek() == '0') {
    ++pos_;
    if (isDigit(peek())) return error(at, "Invalid number, unexpected digit after 0");
  } else if (isDigit(peek())) {
    while (isDigit(peek())) ++pos_;
  } else {
    return error(at, "Invalid number, expected digit");
  }
  if (peek() == '.') {
    isFloat = true;
    ++pos_;
    if (!isDigit(peek())) return error(at, "Invalid number, expected digit after '.'");
    while (isDigit(peek())) ++pos_;
  }
  if (peek() == 'e' || peek() == 'E') {
    isFloat = true;
    ++pos_;
    if (peek() == '+' || peek() == '-') ++pos_;
    if (!isDigit(peek())) return error(at, "Invalid number, expected digit in exponent");
    while (isDigit(peek())) ++pos_;
  }
  if (isNameStart(peek()) || peek() == '.') {
    return error(at, "Invalid number, unexpected character after number");
  }
  return {isFloat ? Token::Kind::Float : Token::Kind::Int,
          std::string(source_.substr(start, pos_ - start)), at};
}

Token Lexer::readString(Location at) {
  ++pos_;  // opening quote
  std::string value;
  while (!atEnd()) {
    const char c = peek();
    if (c == '"') {
      ++pos_;
      return {Token::Kind::String, std::move(value), at};
    }
    if (c == '\n' || c == '\r') return error(at, "Unterminated string");
    if (c != '\\') {
      value += c;
      ++pos_;
      continue;
    }
    const char escaped = peek(1);
    pos_ += 2;
    switch (escaped) {
      case '"':
        value += '"';
        break;
      case '\\':
        value += '\\';
        break;
      case '/':
        value += '/';
        break;
      case 'b':
        value += '\b';
        break;
      case 'f':
        value += '\f';
        break;
      case 'n':
        value += '\n';
        break;
      case 'r':
        value += '\r';
        break;
      case 't':
        value += '\t';
        break;
      case 'u': {
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
          const int digit = hexValue(peek());
          if (digit < 0) return error(at, "Invalid unicode escape in string");
          code = code * 16 + static_cast<unsigned>(digit);
          ++pos_;
        }
        // A surrogate pair written as two escapes makes one code point.
        if (code >= 0xD800 && code <= 0xDBFF && peek() == '\\' && peek(1) == 'u') {
          unsigned low = 0;
          bool valid = true;
          for (int i = 0; i < 4; ++i) {
            const int digit = hexValue(peek(2 + i));
            if (digit < 0) valid = false;
            low = low * 16 + static_cast<unsigned>(digit < 0 ? 0 : digit);
          }
          if (valid && low >= 0xDC00 && low <= 0xDFFF) {
            pos_ += 6;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
        }
        if (code >= 0xD800 && code <= 0xDFFF) return error(at, "Invalid unicode escape in string");
        appendUtf8(value, code);
        break;
      }
      default:
        return error(at, "Invalid escape sequence in string");
    }
  }
  return error(at, "Unterminated string");
}

Token Lexer::readBlockString(Location at) {
  pos_ += 3;
  std::string raw;
  while (!atEnd()) {
    if (peek() == '"' && peek(1) == '"' && peek(2) == '"') {
      pos_ += 3;
      return {Token::Kind::String, dedentBlock(raw), at};
    }
    if (peek() == '\\' && peek(1) == '"' && peek(2) == '"' && peek(3) == '"') {
      raw += "\"\"\"";
      pos_ += 4;
      continue;
    }
    const char c = peek();
    raw += c;
    ++pos_;
    if (c == '\n' || (c == '\r' && peek() != '\n')) {
      ++line_;
      lineStart_ = pos_;
    }
  }
  return error(at, "Unterminated block string");
}

}  // namespace corvenza::emulator::gql
