#include "bundle_writer.h"

#include "base/private_files.h"

namespace corvenza::emulator {

namespace {

// Values are written single-quoted so the file can be sourced by a shell.
std::string shellQuoted(const std::string& value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// Replaced, never written through: a link planted at @p path leaves the file
// it names alone.
detail::Status writeFile(const std::filesystem::path& path, const std::string& content) {
  if (const auto error = replacePrivateFile(path, content)) {
    return Error("CorvenzaEmulatorError", 1, std::nullopt,
                 "cannot write " + path.string() + ": " + error.message());
  }
  return detail::okStatus();
}

}  // namespace

detail::Status writeBundle(const std::filesystem::path& directory,
                           const nlohmann::ordered_json& endpoints) {
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  auto text = [&](const char* key) { return endpoints.value(key, std::string()); };
  const std::string region = text("region");
  nlohmann::json config = {{"graph_ql_endpoint", text("graphql")},   {"graph_ql_region", region},
                           {"bucket_name", text("bucket")},          {"bucket_region", region},
                           {"id_pool_id", text("identity_pool_id")}, {"id_pool_region", region},
                           {"encryption_key", text("kms_key_id")}};
  auto status = writeFile(directory / "corvenza-config.json", config.dump(2) + "\n");
  if (!status) return status;

  const auto absolute = std::filesystem::absolute(directory, ec);
  std::string env;
  env += "export AWS_ENDPOINT_URL_COGNITO_IDENTITY=" + shellQuoted(text("identity")) + "\n";
  env += "export AWS_ENDPOINT_URL_S3=" + shellQuoted(text("s3")) + "\n";
  env += "export CORVENZA_API_URL=" + shellQuoted(text("auth")) + "\n";
  env += "export CORVENZA_API_KEY=" + shellQuoted(text("api_key")) + "\n";
  env += "export CORVENZA_BUNDLE_DIR=" + shellQuoted(absolute.string()) + "\n";
  if (const auto dashboard = text("dashboard"); !dashboard.empty()) {
    env += "export CORVENZA_DASHBOARD_URL=" + shellQuoted(dashboard) + "\n";
  }
  // Over TLS: the emulator's private CA, trusted by whoever sources the file.
  if (const auto ca = text("ca_certificate"); !ca.empty()) {
    if (auto written = writeFile(directory / "ca.pem", ca); !written) return written;
    env += "export AWS_CA_BUNDLE=" + shellQuoted((absolute / "ca.pem").string()) + "\n";
  }
  // It holds the API key, which replacePrivateFile keeps its owner's only.
  return writeFile(directory / "emulator.env", env);
}

}  // namespace corvenza::emulator
