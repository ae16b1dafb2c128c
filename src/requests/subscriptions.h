#pragma once
// The three change subscriptions of a client: listeners by name, one
// running subscription per kind, events fanned out on the main queue.

#include <corvenza/request_callbacks.h>

#include <memory>
#include <string>

#include "requests/client_state.h"

namespace corvenza::requests {

using SubscriptionKind = EstimationEventKind;

/// Registers @p callback under @p name and starts the kind's subscription when
/// none runs. Start failures reach @p callback synchronously.
void subscribe(const std::shared_ptr<ClientState>& state, SubscriptionKind kind,
               RequestCallback callback, const std::string& name);

/// As subscribe(), after giving a DefaultTokenProvider the chance to refresh;
/// whatever it answers, subscribe() then decides.
void subscribeAfterEnsuringToken(const std::shared_ptr<ClientState>& state, SubscriptionKind kind,
                                 RequestCallback callback, const std::string& name);

/// Removes @p name; cancels the kind's subscription when no listener is left.
void unsubscribe(ClientState& state, SubscriptionKind kind, const std::string& name);

/// Empties every map, then cancels every watcher.
void unsubscribeAll(ClientState& state);

}  // namespace corvenza::requests
