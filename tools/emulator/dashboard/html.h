#pragma once
// Text into HTML: every value a page shows goes through here, since request
// fields come from users.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/http_message.h"

namespace corvenza::emulator::dashboard {

/// A short text/plain answer (a refusal, a missing thing) that browsers may
/// not read as anything else.
Response plainText(int status, std::string text);

/// @p text with & < > " ' replaced by character references; safe in element
/// content and in quoted attribute values.
std::string htmlEscape(std::string_view text);

/// @p value with one decimal ("34.5"); "–" for a value that is not finite.
std::string oneDecimal(double value);

/// @p epochSeconds as "YYYY-MM-DD HH:MM:SS UTC".
std::string utcTime(std::int64_t epochSeconds);

}  // namespace corvenza::emulator::dashboard
