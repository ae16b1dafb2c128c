#pragma once
// Writes what an application needs to talk to a running emulator: a bundle
// configuration file and an environment file with the endpoint overrides.

#include <filesystem>
#include <nlohmann/json.hpp>

#include "core/result.h"

namespace corvenza::emulator {

/// Writes DIR/corvenza-config.json and DIR/emulator.env from the emulator's
/// ready line (@p endpoints), and DIR/ca.pem with AWS_CA_BUNDLE naming it when
/// the emulator serves TLS with a CA of its own. Creates DIR when missing. Each file is new and
/// its owner's only (0600; emulator.env holds the API key), renamed over the
/// old one: a link in its place is replaced, never followed.
detail::Status writeBundle(const std::filesystem::path& directory,
                           const nlohmann::ordered_json& endpoints);

}  // namespace corvenza::emulator
