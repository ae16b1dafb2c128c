#pragma once
// Seeded random inputs for the decoder tests: random bytes, damaged copies of
// valid inputs (byte edits, splices, structural JSON edits) and truncations.
// A fixed seed keeps every failure reproducible.

#include <cstdint>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvenza::test {

/// A copy in a heap block of exactly its size, so that AddressSanitizer
/// reports a read one byte past the end (a std::string or vector may have
/// spare capacity there).
class ExactBytes {
 public:
  explicit ExactBytes(std::string_view bytes)
      : size_(bytes.size()), data_(std::make_unique<char[]>(bytes.size())) {
    if (size_ > 0) std::memcpy(data_.get(), bytes.data(), size_);
  }
  std::string_view text() const { return {data_.get(), size_}; }
  std::span<const std::uint8_t> bytes() const {
    return {reinterpret_cast<const std::uint8_t*>(data_.get()), size_};
  }

 private:
  std::size_t size_;
  std::unique_ptr<char[]> data_;
};

/// "[[[...]]]" @p depth deep.
inline std::string nestedArrays(std::size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

/// True when @p text is well-formed UTF-8 (no cut or overlong sequence, no
/// surrogate), as a text cut short at a byte count may not be.
inline bool isValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80                ? 1
                               : c >= 0xC2 && c < 0xE0 ? 2
                               : c >= 0xE0 && c < 0xF0 ? 3
                               : c >= 0xF0 && c < 0xF5 ? 4
                                                       : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t point = length == 1 ? c : c & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = point << 6 | (next & 0x3F);
    }
    if ((length == 3 && (point < 0x800 || (point >= 0xD800 && point <= 0xDFFF))) ||
        (length == 4 && (point < 0x10000 || point > 0x10FFFF))) {
      return false;
    }
    i += length;
  }
  return true;
}

/// Where a structural JSON edit was made: a JSON pointer to the member or
/// element whose value changed, and the resulting text.
struct JsonEdit {
  nlohmann::json::json_pointer at;
  std::string text;
};

class Mutator {
 public:
  explicit Mutator(std::uint32_t seed) : rng_(seed) {}

  /// A number in [0, n); n must be positive.
  std::size_t below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }
  bool oneIn(std::size_t n) { return below(n) == 0; }
  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[below(items.size())];
  }

  /// Up to @p maxLength bytes of any value.
  std::string randomBytes(std::size_t maxLength) {
    std::string out(below(maxLength + 1), '\0');
    for (auto& c : out) c = static_cast<char>(below(256));
    return out;
  }

  /// Up to @p maxLength characters drawn from @p alphabet.
  std::string randomText(std::string_view alphabet, std::size_t maxLength) {
    std::string out(below(maxLength + 1), '\0');
    for (auto& c : out) c = alphabet[below(alphabet.size())];
    return out;
  }

  /// Valid UTF-8 of up to @p maxPieces pieces: letters, characters of two to
  /// four bytes, quotes, backslashes, control characters and NUL.
  std::string randomUtf8(std::size_t maxPieces) {
    static const std::vector<std::string> kPieces = {"a",
                                                     "Z",
                                                     "0",
                                                     " ",
                                                     "-",
                                                     "_",
                                                     ".",
                                                     ":",
                                                     "#",
                                                     "/",
                                                     "\"",
                                                     "\\",
                                                     "<",
                                                     "&",
                                                     "'",
                                                     "\n",
                                                     "\t",
                                                     std::string(1, '\0'),
                                                     "\xc3\xa9",
                                                     "\xe2\x82\xac",
                                                     "\xf0\x9f\x98\x80"};
    std::string out;
    for (std::size_t n = below(maxPieces + 1); n > 0; --n) out += pick(kPieces);
    return out;
  }

  /// One to @p maxEdits edits: flip a bit, overwrite with a byte that often
  /// matters to a parser, insert, delete, or duplicate a short span.
  std::string mutateBytes(std::string text, std::size_t maxEdits = 4) {
    static constexpr char kSpecial[] = {'\0', '\xff', '\x80', '\xc3', '"', '\\', '{', '}', '[',
                                        ']',  ',',    ':',    '<',    '>', '/',  '&', '.', '='};
    const std::size_t edits = 1 + below(maxEdits);
    for (std::size_t i = 0; i < edits; ++i) {
      const std::size_t at = below(text.size() + 1);
      switch (below(5)) {
        case 0:
          if (at < text.size()) text[at] = static_cast<char>(text[at] ^ (1 << below(8)));
          break;
        case 1:
          if (at < text.size()) text[at] = kSpecial[below(sizeof kSpecial)];
          break;
        case 2:
          text.insert(at, 1, static_cast<char>(below(256)));
          break;
        case 3:
          text.erase(at, 1 + below(4));
          break;
        default: {
          const std::string span = text.substr(at, 1 + below(16));
          text.insert(below(text.size() + 1), span);
        }
      }
    }
    return text;
  }
  std::vector<std::uint8_t> mutateBytes(const std::vector<std::uint8_t>& bytes,
                                        std::size_t maxEdits = 4) {
    const auto text = mutateBytes(std::string(bytes.begin(), bytes.end()), maxEdits);
    return {text.begin(), text.end()};
  }

  /// The head of @p a followed by the tail of @p b, cut at random points.
  std::string splice(std::string_view a, std::string_view b) {
    return std::string(a.substr(0, below(a.size() + 1))) +
           std::string(b.substr(below(b.size() + 1)));
  }

  /// JSON text that a reader may not expect where a value should be: other
  /// types, numbers beyond every integer and double, NaN-like words, strings
  /// with NUL, lone surrogates or bytes that are not UTF-8, deep nesting.
  std::string oddValue() {
    static const std::vector<std::string> kValues = {"null",
                                                     "true",
                                                     "false",
                                                     "0",
                                                     "-0",
                                                     "-1",
                                                     "1.5",
                                                     "-2.5e-3",
                                                     "1e308",
                                                     "1e400",
                                                     "-1e400",
                                                     "1e-400",
                                                     "2147483648",
                                                     "-2147483649",
                                                     "4294967697",
                                                     "9223372036854775807",
                                                     "9223372036854775808",
                                                     "-9223372036854775809",
                                                     "18446744073709551615",
                                                     "18446744073709551616",
                                                     "123456789012345678901234567890",
                                                     "NaN",
                                                     "-Infinity",
                                                     "0x10",
                                                     "01",
                                                     "\"\"",
                                                     "\"text\"",
                                                     "\"a\\u0000b\"",
                                                     "\"\\ud800\"",
                                                     "\"\xff\xfe\"",
                                                     "\"\xc3\"",
                                                     "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"",
                                                     "[]",
                                                     "{}",
                                                     "[null]",
                                                     "{\"\":null}",
                                                     "[1,[2,[3]]]",
                                                     "{\"a\":{\"b\":{\"c\":{}}}}"};
    switch (below(8)) {
      case 0:
        return nestedArrays(1 + below(3000));
      case 1: {
        const std::size_t depth = 1 + below(1000);
        std::string text;
        for (std::size_t i = 0; i < depth; ++i) text += "{\"a\":";
        return text + "0" + std::string(depth, '}');
      }
      case 2:
        return nlohmann::json(randomBytes(12))
            .dump(-1, ' ', false, nlohmann::json::error_handler_t::ignore);
      default:
        return pick(kValues);
    }
  }

  /// One structural edit of @p document: a member or element replaced by
  /// oddValue(), removed, duplicated (a JSON object then holds one key twice)
  /// or added. The document itself stays untouched.
  JsonEdit mutateJson(const nlohmann::json& document) {
    using Pointer = nlohmann::json::json_pointer;
    std::vector<Pointer> nodes;
    collect(document, Pointer(), nodes);
    const Pointer at = nodes[below(nodes.size())];
    const nlohmann::json& node = document.at(at);
    nlohmann::json copy = document;
    std::string raw;
    Pointer changed = at;
    switch (below(4)) {
      case 0:
        if (!at.empty()) {
          auto& parent = copy.at(at.parent_pointer());
          if (parent.is_object()) {
            parent.erase(at.back());
          } else {
            parent.erase(std::stoul(at.back()));
          }
          return {at, copy.dump()};
        }
        [[fallthrough]];
      case 1:
        if (node.is_object() && !node.empty()) {
          // Repeats a member, with its own value or an odd one.
          auto member = std::next(node.begin(), static_cast<std::ptrdiff_t>(below(node.size())));
          const std::string value = oneIn(2) ? member->dump() : oddValue();
          raw = node.dump();
          raw.pop_back();
          raw += "," + nlohmann::json(member.key()).dump() + ":" + value + "}";
          changed = at / member.key();
          break;
        }
        if (node.is_array()) {
          raw = node.dump();
          raw.pop_back();
          raw += std::string(node.empty() ? "" : ",") + oddValue() + "]";
          changed = at / std::to_string(node.size());
          break;
        }
        [[fallthrough]];
      default:
        raw = oddValue();
    }
    static const std::string kMark = "\x01mutation\x01";
    copy.at(at) = kMark;
    std::string text = copy.dump();
    const std::string quoted = nlohmann::json(kMark).dump();
    text.replace(text.find(quoted), quoted.size(), raw);
    return {changed, std::move(text)};
  }

 private:
  static void collect(const nlohmann::json& node, const nlohmann::json::json_pointer& at,
                      std::vector<nlohmann::json::json_pointer>& out) {
    out.push_back(at);
    if (node.is_object()) {
      for (const auto& [key, value] : node.items()) collect(value, at / key, out);
    } else if (node.is_array()) {
      for (std::size_t i = 0; i < node.size(); ++i) collect(node[i], at / i, out);
    }
  }

  std::mt19937 rng_;
};

/// The inputs of a randomized decoder test, each handed to @p feed once:
/// every proper prefix of each sample, then @p rounds times a random input of
/// each kind (random bytes, byte edits of a sample, a splice of two samples,
/// and for samples that are JSON a structural edit). Returns how many inputs
/// were fed.
template <typename Feed>
std::size_t forEachVariant(const std::vector<std::string>& samples, Mutator& mutator,
                           std::size_t rounds, Feed&& feed) {
  std::size_t fed = 0;
  const auto give = [&](std::string_view input) {
    feed(input);
    ++fed;
  };
  std::vector<nlohmann::json> documents;
  for (const auto& sample : samples) {
    for (std::size_t n = 0; n < sample.size(); ++n) give(std::string_view(sample).substr(0, n));
    auto parsed = nlohmann::json::parse(sample, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_discarded()) documents.push_back(std::move(parsed));
  }
  for (std::size_t round = 0; round < rounds; ++round) {
    give(mutator.randomBytes(64));
    give(mutator.mutateBytes(mutator.pick(samples)));
    give(mutator.splice(mutator.pick(samples), mutator.pick(samples)));
    if (!documents.empty()) give(mutator.mutateJson(mutator.pick(documents)).text);
  }
  return fed;
}

}  // namespace corvenza::test
