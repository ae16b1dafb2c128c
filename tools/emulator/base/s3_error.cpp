#include "base/s3_error.h"

#include "base/random.h"

namespace corvenza::emulator {

std::string escapeXml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

Response s3Error(int status, std::string_view code, std::string_view message,
                 std::string_view resource) {
  const auto requestId = randomString(16, "0123456789ABCDEF");
  Response response;
  response.status = status;
  response.body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>" + escapeXml(code) +
                  "</Code><Message>" + escapeXml(message) + "</Message><Resource>" +
                  escapeXml(resource) + "</Resource><RequestId>" + requestId +
                  "</RequestId></Error>";
  response.headers = {{"Content-Type", "application/xml"}, {"x-amz-request-id", requestId}};
  return response;
}

}  // namespace corvenza::emulator
