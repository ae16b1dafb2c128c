#include <corvenza/corvenza.h>

#include <iostream>
#include <memory>
#include <string>

#include "cli_session.h"
#include "commands.h"

namespace corvenza::cli {

namespace {

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

struct ConfigOptions {
  std::string bundle;
  bool json = false;
};

int runConfig(const ConfigOptions& options) {
  if (!options.bundle.empty()) Bundle::setMainBundleDirectory(options.bundle);
  // Standard output holds only the configuration (one JSON object with --json).
  setConsoleSink([](std::string_view line) { std::cerr << line << '\n'; });
  auto& enterprise = CorvenzaEnterprise::shared();
  try {
    enterprise.loadConfig();
  } catch (const CorvenzaException& e) {
    std::cerr << "corvenza: " << startupFailure(e.error()) << " (" << e.error().domain()
              << " error code " << e.error().code() << ")\n";
    return kExitFailure;
  }
  // Start-up would only say so in a console line, and every command fail later.
  if (!isWebUrl(enterprise.graphQLEndpoint())) {
    std::cerr << "corvenza: graph_ql_endpoint '" << enterprise.graphQLEndpoint()
              << "' is not an http or https URL\n";
    return kExitFailure;
  }
  const auto gqlRegion = enterprise.graphQLRegion();
  const auto poolRegion = enterprise.cognitoIDPoolRegion();
  if (options.json) {
    std::cout << "{\"graphQLEndpoint\":" << jsonString(enterprise.graphQLEndpoint())
              << ",\"graphQLRegion\":{\"number\":" << gqlRegion.value()
              << ",\"code\":" << jsonString(gqlRegion.stringValue()) << "}"
              << ",\"cognitoIDPoolID\":" << jsonString(enterprise.cognitoIDPoolID())
              << ",\"cognitoIDPoolRegion\":{\"number\":" << poolRegion.value()
              << ",\"code\":" << jsonString(poolRegion.stringValue()) << "}"
              << ",\"imageBucketName\":" << jsonString(enterprise.imageBucketName())
              << ",\"imageBucketRegion\":" << jsonString(enterprise.imageBucketRegion())
              << ",\"encryptionKey\":" << jsonString(enterprise.encryptionKey()) << "}\n";
  } else {
    std::cout << "graphQLEndpoint:     " << enterprise.graphQLEndpoint() << "\n"
              << "graphQLRegion:       " << gqlRegion.value() << " (" << gqlRegion.stringValue()
              << ")\n"
              << "cognitoIDPoolID:     " << enterprise.cognitoIDPoolID() << "\n"
              << "cognitoIDPoolRegion: " << poolRegion.value() << " (" << poolRegion.stringValue()
              << ")\n"
              << "imageBucketName:     " << enterprise.imageBucketName() << "\n"
              << "imageBucketRegion:   " << enterprise.imageBucketRegion() << "\n"
              << "encryptionKey:       " << enterprise.encryptionKey() << "\n";
  }
  return kExitOk;
}

}  // namespace

void addConfigCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ConfigOptions>();
  auto* command =
      app.add_subcommand("config", "Load the configuration as start-up does and print it");
  command->add_option("--bundle", options->bundle, "Directory holding corvenza-config.json");
  command->add_flag("--json", options->json, "Print one JSON object");
  command->callback([options, &exitCode] { exitCode = runConfig(*options); });
}

}  // namespace corvenza::cli
