#include "platform/storage/storage_error.h"

#include <optional>
#include <string_view>

namespace corvenza::storage {
namespace {

std::string unescapeXml(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kEntities[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool replaced = false;
    if (text[i] == '&') {
      for (const auto& [entity, c] : kEntities) {
        if (text.substr(i, entity.size()) == entity) {
          out += c;
          i += entity.size() - 1;
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += text[i];
  }
  return out;
}

// The text of the first <name>...</name>; the error bodies are flat, so no
// full XML parser is needed.
std::optional<std::string> element(std::string_view xml, std::string_view name) {
  const std::string open = "<" + std::string(name) + ">";
  const std::string close = "</" + std::string(name) + ">";
  const auto start = xml.find(open);
  if (start == std::string_view::npos) return std::nullopt;
  const auto from = start + open.size();
  const auto end = xml.find(close, from);
  if (end == std::string_view::npos) return std::nullopt;
  return unescapeXml(xml.substr(from, end - from));
}

}  // namespace

Error makeStorageError(int code, std::string description) {
  return Error(kStorageErrorDomain, code, std::nullopt, std::move(description));
}

Error storageErrorFromResponse(const http::HttpResponse& response) {
  UserInfo info{{"HTTPStatus", std::to_string(response.status)}};
  const auto code = element(response.body, "Code");
  const auto message = element(response.body, "Message");
  if (auto requestId = element(response.body, "RequestId")) {
    info["RequestId"] = *requestId;
  } else if (auto header = http::findHeader(response.headers, "x-amz-request-id")) {
    info["RequestId"] = *header;
  }
  std::string description;
  if (code) {
    info["Code"] = *code;
    description = *code;
    if (message && !message->empty()) {
      info["Message"] = *message;
      description += ": " + *message;
    }
  } else {
    description = "Object storage answered HTTP " + std::to_string(response.status);
  }
  return Error(kStorageErrorDomain, response.status, std::move(info), std::move(description));
}

}  // namespace corvenza::storage
