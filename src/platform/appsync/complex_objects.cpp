#include "platform/appsync/complex_objects.h"

#include <nlohmann/json.hpp>

#include "platform/appsync/client_error.h"
#include "platform/file_uri.h"

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
  return detail::localFilePath(uri);
}

detail::Result<std::vector<S3UploadDescription>> findUploads(const json& variables) {
  std::vector<S3UploadDescription> uploads;
  if (auto status = collect(variables, uploads); !status) return status.error();
  return uploads;
}

}  // namespace corvenza::appsync
