#pragma once
// JSON from outside, parsed only when it nests no deeper than a bound. The
// JSON library copies, prints and compares values recursively, so a document
// nested tens of thousands of levels deep would exhaust a thread's stack long
// after parsing succeeded.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string_view>

namespace corvenza::emulator {

/// Deepest nesting of arrays and objects taken from a client. Real requests
/// stay below ten.
inline constexpr std::size_t kMaxJsonDepth = 64;

/// Whether no array or object in @p text lies deeper than @p maxDepth
/// (a top-level object is depth 1). Brackets inside strings do not count.
/// Iterative and safe on any bytes; it does not check that @p text is JSON.
bool jsonDepthWithin(std::string_view text, std::size_t maxDepth = kMaxJsonDepth);

/// The parsed value, or a discarded one (is_discarded()) when @p text is not
/// JSON or nests deeper than @p maxDepth. Never throws.
nlohmann::json parseBoundedJson(std::string_view text, std::size_t maxDepth = kMaxJsonDepth);

}  // namespace corvenza::emulator
