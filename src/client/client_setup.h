#pragma once
// Building a client: its settings from the configuration, then its identity
// side (bridge, credentials, storage signing) and its GraphQL side (object
// manager, GraphQL client and cache, real-time connection). The facade's
// start-up and EstimationClient::create run the same steps.

#include <corvenza/config.h>

#include <filesystem>
#include <memory>
#include <optional>

#include "requests/client_state.h"

namespace corvenza::client {

/// Reads and decodes "corvenza-config.json" from @p directory, or from the
/// application bundle when it is empty.
/// @throws CorvenzaException with code 1997 when the file is missing, and
///         also, after printing "Error: cannot read config json" or "Error:
///         cannot decode config json", when it is unreadable or malformed.
CorvenzaConfig readConfiguration(const std::filesystem::path& directory);

/// Fixes @p state's settings: the service's from @p config, and the offline
/// cache's file (none keeps it in memory).
void applyConfiguration(requests::ClientState& state, const CorvenzaConfig& config,
                        std::optional<std::filesystem::path> cacheFile);

/// Makes @p provider the one whose token signs @p state's user in.
void useTokenProvider(requests::ClientState& state,
                      std::shared_ptr<CorvenzaTokenProvider> provider);

/// Builds the identity bridge, the credentials and the storage signers.
void buildIdentity(requests::ClientState& state);

/// Builds the object manager, the GraphQL client and the real-time client.
/// Prints why and leaves the GraphQL client absent when one cannot be built.
void buildGraphQL(const std::shared_ptr<requests::ClientState>& state);

}  // namespace corvenza::client
