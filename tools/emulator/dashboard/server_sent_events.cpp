#include "dashboard/server_sent_events.h"

namespace corvenza::emulator::dashboard {
namespace {

std::string singleLine(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c != '\n' && c != '\r' && c != '\0') out += c;
  }
  return out;
}

}  // namespace

std::string formatEvent(const ServerSentEvent& event) {
  std::string out;
  if (!event.id.empty()) out += "id: " + singleLine(event.id) + "\n";
  if (!event.type.empty()) out += "event: " + singleLine(event.type) + "\n";
  // CR, LF and CRLF all end a line in the stream.
  std::string_view rest = event.data;
  for (;;) {
    const auto end = rest.find_first_of("\r\n");
    out += "data: ";
    out += rest.substr(0, end);
    out += '\n';
    if (end == std::string_view::npos) break;
    const auto skip = rest.compare(end, 2, "\r\n") == 0 ? 2 : 1;
    rest.remove_prefix(end + skip);
  }
  return out + "\n";
}

std::string formatRetry(std::chrono::milliseconds delay) {
  return "retry: " + std::to_string(delay.count()) + "\n\n";
}

std::string formatPosition(std::string_view id) { return "id: " + singleLine(id) + "\n\n"; }

}  // namespace corvenza::emulator::dashboard
