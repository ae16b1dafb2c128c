#pragma once
/// @file
/// Where the library's console lines go.
///
/// The library writes plain lines (start-up problems, warnings, "[SPEED_TEST]:"
/// timing lines, "[H]" lines of the HTTP client) to standard output by default.
/// An application may route them elsewhere. No line ever holds a secret.

#include <functional>
#include <string_view>

namespace corvenza {

/// Receives one console line, without its line feed. Called from whichever
/// thread wrote the line; the sink must be thread-safe.
using ConsoleSink = std::function<void(std::string_view line)>;

/// Installs @p sink for every later line; an empty sink restores standard output.
/// Thread-safe.
void setConsoleSink(ConsoleSink sink);

/// Writes one line through the installed sink. Thread-safe.
void consoleLine(std::string_view line);

}  // namespace corvenza
