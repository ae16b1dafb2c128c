#pragma once
// Object storage's error shape: an XML <Error> document with a code, a
// message, the resource and a request id.

#include <string>
#include <string_view>

#include "base/http_message.h"

namespace corvenza::emulator {

/// <Error><Code/><Message/><Resource/><RequestId/></Error> with @p status,
/// Content-Type application/xml and an x-amz-request-id header.
Response s3Error(int status, std::string_view code, std::string_view message,
                 std::string_view resource);

/// Escapes the five XML special characters.
std::string escapeXml(std::string_view text);

}  // namespace corvenza::emulator
