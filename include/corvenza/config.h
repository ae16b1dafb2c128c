#pragma once
/// @file
/// The configuration file, the built-in defaults and the application bundle.

#include <corvenza/region.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvenza {

/// The seven members of "corvenza-config.json", all required strings.
/// Members not listed are ignored.
struct CorvenzaConfig {
  std::string graphQlEndpoint;  ///< "graph_ql_endpoint"
  std::string graphQlRegion;    ///< "graph_ql_region", a region code
  std::string bucketName;       ///< "bucket_name"
  std::string bucketRegion;     ///< "bucket_region", a region code
  std::string idPoolId;         ///< "id_pool_id", "<region>:<UUID>"
  std::string idPoolRegion;     ///< "id_pool_region", a region code
  std::string encryptionKey;    ///< "encryption_key", key id for server-side encryption

  CorvenzaConfig(std::string graphQlEndpoint, std::string graphQlRegion, std::string bucketName,
                 std::string bucketRegion, std::string idPoolId, std::string idPoolRegion,
                 std::string encryptionKey);

  /// Decodes the file's bytes. Returns nothing when they are not a JSON
  /// object, or a member is missing or not a string; @p whyNot then says why.
  static std::optional<CorvenzaConfig> decode(std::string_view json, std::string* whyNot = nullptr);

  friend bool operator==(const CorvenzaConfig&, const CorvenzaConfig&) = default;
};

/// Built-in defaults used until a configuration file has been read.
struct Constants {
  static constexpr bool DEBUG_MODE = false;
  /// The default GraphQL endpoint.
  static constexpr const char* APPSYNC_ENDPOINT_URL =
      "https://corvenzaestimationapi0001.appsync-api.ap-northeast-1.amazonaws.com/graphql";
  /// The default identity pool, in ap-northeast-1.
  static constexpr const char* COGNITO_ID_POOL_ID =
      "ap-northeast-1:3f2c9a4e-8b1d-4c7a-9e52-6d0b1f7a8c43";
  static constexpr AWSRegionType APPSYNC_REGION{9};
  static constexpr AWSRegionType COGNITO_REGION{9};
  /// Base URL of the authentication service (read by no library operation).
  static constexpr const char* OIDC_ENDPOINT = "https://auth.corvenza.example/v1";
};

/// The application's "main bundle": the directory holding its resources.
///
/// It is, in this order: the directory set with setMainBundleDirectory(), the
/// directory named by the environment variable CORVENZA_BUNDLE_DIR, or the
/// directory of the running executable. Thread-safe.
class Bundle {
 public:
  /// Sets the bundle directory; an empty path returns to the default.
  static void setMainBundleDirectory(std::filesystem::path directory);
  /// The bundle directory in effect.
  static std::filesystem::path mainBundleDirectory();
  /// The path of resource @p name of type @p type ("corvenza-config", "json"),
  /// or nothing when no such regular file exists.
  static std::optional<std::filesystem::path> pathForResource(std::string_view name,
                                                              std::string_view type);
};

}  // namespace corvenza
