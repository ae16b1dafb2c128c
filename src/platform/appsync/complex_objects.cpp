#include "platform/appsync/complex_objects.h"

#include <nlohmann/json.hpp>

#include "platform/appsync/client_error.h"

namespace corvenza::appsync {
namespace {

using nlohmann::json;

constexpr const char* kUploadMembers[] = {"bucket", "key", "region", "localUri", "mimeType"};

bool isUpload(const json& object) {
  for (const char* name : kUploadMembers) {
    auto it = object.find(name);
    if (it == object.end() || !it->is_string()) return false;
  }
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

detail::Status collect(const json& value, std::vector<S3UploadDescription>& out) {
  if (value.is_array()) {
    for (const auto& element : value) {
      if (auto status = collect(element, out); !status) return status;
    }
    return detail::okStatus();
  }
  if (!value.is_object()) return detail::okStatus();
  if (isUpload(value)) {
    const auto uri = value.at("localUri").get<std::string>();
    auto path = localPathFromUri(uri);
    if (!path) {
      return makeGraphQLClientError(kGraphQLClientUploadFailed,
                                    "The file to upload is not a local file: " + uri);
    }
    out.push_back(S3UploadDescription{value.at("bucket").get<std::string>(),
                                      value.at("key").get<std::string>(),
                                      value.at("region").get<std::string>(), std::move(*path),
                                      value.at("mimeType").get<std::string>()});
    return detail::okStatus();
  }
  for (const auto& [name, member] : value.items()) {
    if (auto status = collect(member, out); !status) return status;
  }
  return detail::okStatus();
}

}  // namespace

std::optional<std::filesystem::path> localPathFromUri(const std::string& uri) {
  if (uri.empty()) return std::nullopt;
  constexpr std::string_view kScheme = "file://";
  if (uri.rfind(kScheme, 0) == 0) {
    std::string_view rest = std::string_view(uri).substr(kScheme.size());
    const auto slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const auto host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost") return std::nullopt;
    auto path = percentDecoded(rest.substr(slash));
    if (!path) return std::nullopt;
    return std::filesystem::path(*path);
  }
  // Any other scheme ("https:", "content:") cannot be read as a file.
  const auto colon = uri.find(':');
  const auto slash = uri.find('/');
  if (colon != std::string::npos && (slash == std::string::npos || colon < slash)) {
    return std::nullopt;
  }
  return std::filesystem::path(uri);
}

detail::Result<std::vector<S3UploadDescription>> findUploads(const json& variables) {
  std::vector<S3UploadDescription> uploads;
  if (auto status = collect(variables, uploads); !status) return status.error();
  return uploads;
}

}  // namespace corvenza::appsync
