#pragma once
// What fail and malformed faults answer in place of a service.

#include <string>

#include "base/http_message.h"
#include "faults/fault.h"

namespace corvenza::emulator::faults {

/// The body a malformed fault sends unless it names one: JSON cut short.
inline constexpr const char* kMalformedBody = "{\"injected\": \"malformed JSON";

/// The HTTP answer of a Fail or Malformed @p fault: its body verbatim when it
/// has one, else an error in the form the route's service uses (errorType or
/// Code "InjectedFault") or kMalformedBody.
Response faultResponse(const Fault& fault);

/// The real-time frame a Fail or Malformed @p fault sends for the
/// subscription @p id instead of its start_ack: an "error" message (errorType
/// "InjectedFault", errorCode the status, message the body when given) or
/// the body (or kMalformedBody) as a text frame.
std::string realtimeFaultFrame(const Fault& fault, const std::string& id);

}  // namespace corvenza::emulator::faults
