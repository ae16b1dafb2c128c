#include <corvenza/config.h>

#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <system_error>
#include <utility>

namespace corvenza {

CorvenzaConfig::CorvenzaConfig(std::string graphQlEndpoint, std::string graphQlRegion,
                               std::string bucketName, std::string bucketRegion,
                               std::string idPoolId, std::string idPoolRegion,
                               std::string encryptionKey)
    : graphQlEndpoint(std::move(graphQlEndpoint)),
      graphQlRegion(std::move(graphQlRegion)),
      bucketName(std::move(bucketName)),
      bucketRegion(std::move(bucketRegion)),
      idPoolId(std::move(idPoolId)),
      idPoolRegion(std::move(idPoolRegion)),
      encryptionKey(std::move(encryptionKey)) {}

std::optional<CorvenzaConfig> CorvenzaConfig::decode(std::string_view json, std::string* whyNot) {
  auto fail = [&](std::string reason) -> std::optional<CorvenzaConfig> {
    if (whyNot) *whyNot = std::move(reason);
    return std::nullopt;
  };
  nlohmann::json j = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) return fail("not valid JSON");
  if (!j.is_object()) return fail("not a JSON object");
  std::string values[7];
  static constexpr const char* kMembers[7] = {
      "graph_ql_endpoint", "graph_ql_region", "bucket_name",   "bucket_region",
      "id_pool_id",        "id_pool_region",  "encryption_key"};
  for (int i = 0; i < 7; ++i) {
    auto it = j.find(kMembers[i]);
    if (it == j.end()) return fail(std::string("member \"") + kMembers[i] + "\" is missing");
    if (!it->is_string())
      return fail(std::string("member \"") + kMembers[i] + "\" is not a string");
    values[i] = it->get<std::string>();
  }
  return CorvenzaConfig(values[0], values[1], values[2], values[3], values[4], values[5],
                        values[6]);
}

namespace {

std::mutex& bundleMutex() {
  static std::mutex m;
  return m;
}

std::filesystem::path& bundleOverride() {
  static std::filesystem::path p;
  return p;
}

std::filesystem::path executableDirectory() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec);
  return exe.parent_path();
}

}  // namespace

void Bundle::setMainBundleDirectory(std::filesystem::path directory) {
  std::lock_guard lock(bundleMutex());
  bundleOverride() = std::move(directory);
}

std::filesystem::path Bundle::mainBundleDirectory() {
  {
    std::lock_guard lock(bundleMutex());
    if (!bundleOverride().empty()) return bundleOverride();
  }
  if (const char* env = std::getenv("CORVENZA_BUNDLE_DIR"); env && *env) return env;
  return executableDirectory();
}

std::optional<std::filesystem::path> Bundle::pathForResource(std::string_view name,
                                                             std::string_view type) {
  auto path = mainBundleDirectory() / (std::string(name) + "." + std::string(type));
  std::error_code ec;
  // A directory of that name is not a resource; an unreadable file still is.
  if (!std::filesystem::exists(path, ec) || std::filesystem::is_directory(path, ec)) {
    return std::nullopt;
  }
  return path;
}

}  // namespace corvenza
