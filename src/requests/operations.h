#pragma once
// The operations of one client on its state: what the facade's shared
// instance and every EstimationClient run. Each callback runs once, on the
// state's main queue, never inline. In-flight operations hold the state.

#include <corvenza/estimation.h>
#include <corvenza/request_callbacks.h>

#include <memory>
#include <optional>
#include <string>

#include "requests/client_state.h"

namespace corvenza::requests {

using StatePtr = std::shared_ptr<ClientState>;

void getEstimationRequest(const StatePtr& state, const std::string& id, RequestCallback callback);
void listEstimationRequests(const StatePtr& state, std::optional<int> limit,
                            std::optional<std::string> nextToken, ListCallback callback);
void updateEstimationRequest(const StatePtr& state, const std::string& id,
                             const EstimationParameter& parameter, RequestCallback callback);
void deleteEstimationRequest(const StatePtr& state, const std::string& id,
                             RequestCallback callback);

/// Forgets the credentials and the identity, clears a DefaultTokenProvider's
/// token and empties the offline cache of this state alone.
void signOut(ClientState& state);

}  // namespace corvenza::requests
