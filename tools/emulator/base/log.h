#pragma once
// The emulator's log: whole lines on standard error, never interleaved.
// Callers never pass a token, secret, signature or query string.

#include <string_view>

namespace corvenza::emulator {

void logLine(std::string_view line);

}  // namespace corvenza::emulator
